#pragma once

#include <algorithm>
#include <string>
#include <utility>

#include "books/finding.h"
#include "nbt/tree.h"

namespace books {

// Where an item's layout changed, by the DataVersion of the chunk or file
// that holds it (worlds mix versions: each chunk says its own).
constexpr int kComponentsFrom = 3818;      // 1.20.5: an item's data lies in "components", not "tag"
constexpr int kSelectorsParsedFrom = 4080;  // 1.21.2: a component's selector is refused unless the game parses it
constexpr int kTextComponentsFrom = 4290;  // 1.21.5: pages are text components stored as NBT, not JSON

// Where the walk is: a holder (a block entity, an entity, a frame, a
// player's inventory), or the inside of an item that lies at `outer`. It
// points into the tree, and is made a Place only for a finding: most
// places hold no book.
struct Spot {
  Place::Holder holder = Place::Holder::none;
  nbt::Tag tag;   // the holder's compound, or (with `outer`) the item whose inside this is
  nbt::Tag item;  // the item a frame shows
  const std::string* owner = nullptr;  // whose inventory or ender chest
  const Spot* outer = nullptr;

  Spot inside(nbt::Tag containing) const {
    Spot spot;
    spot.tag = containing;
    spot.outer = this;
    return spot;
  }
  Place place() const;
};

// What the checks of one chunk's (or one file's) items share.
class Inspection {
 public:
  // `versioned`: the compound whose "DataVersion" is the chunk's or the file's.
  Inspection(Findings& findings, nbt::Tag versioned, bool everywhere, bool upgrade = false)
      : findings(findings), everywhere(everywhere), upgrade(upgrade), versioned_(versioned) {}
  Inspection(Findings& findings, int dataVersion, bool everywhere = false, bool upgrade = false)
      : findings(findings), everywhere(everywhere), upgrade(upgrade), version_(std::max(0, dataVersion)) {}

  Findings& findings;
  const bool everywhere;  // also items that lie anywhere inside an item
  // Books made to survive being opened by any later version of the game.
  const bool upgrade;

  // 0 when there is none (older than 1.9); looked up when first asked, as
  // most chunks hold nothing that asks.
  int dataVersion() {
    if (version_ < 0) {
      version_ = std::max(0, nbt::getNumber(versioned_, "DataVersion").numberAsInt());
    }
    return version_;
  }

  // A warning of malformed data, with no place.
  void warn(Subject subject) {
    Finding finding;
    finding.subject = subject;
    findings.add(std::move(finding));
  }
  // One about something at `spot`.
  void add(Kind kind, Subject subject, const Spot& spot, Finding&& finding = {}) {
    finding.kind = kind;
    finding.subject = subject;
    finding.hasPlace = true;
    finding.place = spot.place();
    findings.add(std::move(finding));
  }

 private:
  nbt::Tag versioned_;
  int version_ = -1;
};

}  // namespace books

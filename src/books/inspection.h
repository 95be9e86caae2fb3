#pragma once

#include <algorithm>

#include "books/report.h"
#include "nbt/tree.h"

namespace books {

// Where an item's layout changed, by the DataVersion of the chunk or file
// that holds it (worlds mix versions: each chunk says its own).
constexpr int kComponentsFrom = 3818;      // 1.20.5: an item's data lies in "components", not "tag"
constexpr int kTextComponentsFrom = 4290;  // 1.21.5: pages are text components stored as NBT, not JSON

// What the checks of one chunk's (or one file's) items share.
class Inspection {
 public:
  // `versioned`: the compound whose "DataVersion" is the chunk's or the file's.
  Inspection(Report& report, nbt::Tag versioned, bool everywhere)
      : report(report), everywhere(everywhere), versioned_(versioned) {}
  Inspection(Report& report, int dataVersion, bool everywhere = false)
      : report(report), everywhere(everywhere), version_(std::max(0, dataVersion)) {}

  Report& report;
  const bool everywhere;  // also items that lie anywhere inside an item

  // 0 when there is none (older than 1.9); looked up when first asked, as
  // most chunks hold nothing that asks.
  int dataVersion() {
    if (version_ < 0) {
      version_ = std::max(0, nbt::getNumber(versioned_, "DataVersion").numberAsInt());
    }
    return version_;
  }

 private:
  nbt::Tag versioned_;
  int version_ = -1;
};

}  // namespace books

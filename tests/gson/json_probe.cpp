// The other half of the Gson comparison (gson_test.sh).
//   json_probe texts TABLE N SEED   prints, one a line in hex, the texts of TABLE's
//                                   json and lenient rows, then N texts made at random
//   json_probe read                 reads such lines and prints what the page reader
//                                   makes of each, in GsonVerdict's form
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "books/json.h"
#include "support/region_text.h"

namespace {

using books::json::Value;

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// As Gson's JsonObject keeps fields: a name given twice stays where it was
// first, with its last value.
void write(const Value& v, std::string& out) {
  switch (v.kind) {
    case Value::null: out += 'z'; return;
    case Value::boolean: out += v.truth ? 't' : 'f'; return;
    case Value::number: out += 'n' + v.text + '.'; return;
    case Value::string: out += 's' + hex(v.text) + '.'; return;
    case Value::array:
      out += '[';
      for (const Value& e : v.elements) write(e, out);
      out += ']';
      return;
    case Value::object: {
      out += '{';
      std::vector<std::string> seen;
      for (const std::string& name : v.names) {
        bool again = false;
        for (const std::string& s : seen) again |= s == name;
        if (again) continue;
        seen.push_back(name);
        out += hex(name) + ':';
        write(*books::json::field(v, name), out);
      }
      out += '}';
      return;
    }
  }
}

// Pieces of pages: JSON's own, the lenient forms Gson takes, comments,
// escapes good and bad, characters of one to three bytes and a pair's halves.
const std::vector<std::string> kPieces = {
    "{", "}", "[", "]", ":", ",", ";", "=", "=>", " ", "\t", "\n", "\r", "\f", "\"text\"", "\"a\"", "'a'", "'",
    "\"", "text", "Day", "1", "-", "+", "0", "01", "1.", "1.5", "-0", "1e5", "1E+2", "2e", ".5", "0x1F", "NaN",
    "true", "TrUe", "false", "FALSE", "null", "nULL", "nul", "truex", "\\", "\\'", "\\\"", "\\n", "\\u00e9",
    "\\u12", "\\ud83d\\ude00", "\\x", "\\\n", "//c\n", "// note", "/*c*/", "/*", "*/", "/", "#x\n", "#", ")]}'\n",
    ")]}'", "\xEF\xBB\xBF", "\xC3\xA9", "\xE2\x82\xAC", "\xED\xA0\xBD\xED\xB8\x80", "\xC0\x80", "a b", "@a",
    "\"color\"", "\"red\"", "\"extra\"", "\"bold\"", "#FFF", "!", "?", "\x01", "\x7F", "99999999999999999999",
    "18446744073709551616", "-9223372036854775808", "9223372036854775808"};

// A JSON value of small depth, in one of the forms a page may take.
std::string value(std::mt19937& rng, int depth) {
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const size_t form = depth == 0 ? 4 + pick(2) : pick(depth > 3 ? 4 : 6);
  if (form < 4) return kPieces[pick(kPieces.size())];
  std::string out(1, form == 4 ? '[' : '{');
  const size_t n = pick(4);
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) out += pick(8) ? "," : kPieces[pick(kPieces.size())];
    if (pick(10) == 0) out += kPieces[pick(kPieces.size())];
    if (form == 5) out += (pick(3) ? "\"k\"" : "k") + std::string(pick(6) ? ":" : "=");
    out += value(rng, depth + 1);
  }
  if (pick(6) == 0) out += pick(2) ? "," : ";";
  return out + (form == 4 ? ']' : '}');
}

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// A text of the pieces and values, then cut, joined or mended at random, at
// characters' edges, so that Java reads every text as it is.
std::string text(std::mt19937& rng) {
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  std::string out;
  // Half the texts one value, as most pages are; the rest pieces and values joined.
  if (pick(2)) {
    out = value(rng, 0);
  } else {
    for (size_t n = 1 + pick(4); n > 0; --n) out += pick(3) ? value(rng, 1) : kPieces[pick(kPieces.size())];
  }
  for (size_t n = pick(3); n > 0 && !out.empty(); --n) {

    size_t at = pick(out.size() + 1);
    while (at < out.size() && continuation(out[at])) ++at;
    switch (pick(3)) {
      case 0: out.erase(at); break;
      case 1: out.insert(at, kPieces[pick(kPieces.size())]); break;
      default: {
        size_t end = at + 1;
        while (end < out.size() && continuation(out[end])) ++end;
        out.erase(at, end - at);
      }
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "texts" && argc == 5) {
    std::ifstream table(argv[2]);
    if (!table) {
      std::cerr << "json_probe: cannot read " << argv[2] << "\n";
      return 2;
    }
    for (std::string line; std::getline(table, line);) {
      if (line.rfind("json ", 0) != 0 && line.rfind("lenient ", 0) != 0) continue;
      const size_t open = line.find(" ( "), close = line.rfind(" )");
      const auto bytes = testing_support::bytesFromText(line.substr(open + 3, close - open - 3));
      const std::string t(bytes.begin(), bytes.end());
      if (t.size() < 60000) std::cout << hex(t) << '\n';
    }
    std::mt19937 rng(static_cast<unsigned>(std::stoul(argv[4])));
    for (long n = std::stol(argv[3]); n > 0; --n) std::cout << hex(text(rng)) << '\n';
    return 0;
  }
  if (mode == "read") {
    for (std::string line; std::getline(std::cin, line);) {
      std::string t;
      for (size_t i = 0; i + 1 < line.size(); i += 2) t += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
      Value v;
      std::string out;
      switch (books::json::parse(t, &v, nullptr, books::json::Mode::lenient)) {
        case books::json::Verdict::json: write(v, out); break;
        case books::json::Verdict::tooDeep: out = "deep"; break;  // read, its value not kept
        case books::json::Verdict::notJson: out = "!"; break;
      }
      std::cout << out << '\n';
    }
    return 0;
  }
  std::cerr << "usage: json_probe texts TABLE N SEED | json_probe read\n";
  return 2;
}

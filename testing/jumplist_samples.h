// The automatic jump lists among the sample files, with the structural
// details that MANIFEST.tsv records for each (DestList version, entries, ...).
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "byte_builder.h"

namespace vesk_test {

struct sample_jumplist {
  std::filesystem::path path;
  std::string relpath;
  std::map<std::string, std::string> details;  // "key=value" words of the details column
  std::vector<uint8_t> bytes;

  std::string detail(const std::string& key) const {
    auto it = details.find(key);
    return it == details.end() ? std::string() : it->second;
  }
};

// Every sample file of a manifest kind ("automaticDestinations", "lnk", ...),
// read whole (empty when the sample folder is absent).
inline std::vector<sample_jumplist> samples_of_kind(const std::string& kind) {
  std::vector<sample_jumplist> out;
  auto dir = samples_dir();
  if (dir.empty()) return out;
  std::ifstream manifest(dir / "MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);  // titles
  while (std::getline(manifest, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    if (cols.size() < 10 || cols[7] != kind) continue;
    sample_jumplist s;
    s.relpath = cols[0];
    s.path = dir / cols[0];
    std::stringstream words(cols[9]);
    std::string word;
    while (words >> word) {
      auto eq = word.find('=');
      if (eq != std::string::npos) s.details[word.substr(0, eq)] = word.substr(eq + 1);
    }
    std::ifstream in(s.path, std::ios::binary);
    s.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    out.push_back(std::move(s));
  }
  return out;
}

// Every *.automaticDestinations-ms file listed in the manifest.
inline std::vector<sample_jumplist> automatic_jumplist_samples() {
  return samples_of_kind("automaticDestinations");
}

}  // namespace vesk_test

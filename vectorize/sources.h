#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace punb::vectorize {

enum class SetKind : std::uint8_t { positive, unlabeled, test };

// A PATH of the command line and the set it feeds; `label` is 1 or -1 for the test set.
struct InputPath {
  std::string path;
  SetKind set = SetKind::positive;
  int label = 0;
};

// A file to read: one document when found in a directory, one document per line when named
// on the command line.
struct InputFile {
  std::string path;  // as the ids file shows it
  SetKind set = SetKind::positive;
  int label = 0;
  bool whole_document = false;
};

// The files of the given paths, in command-line order; a directory contributes every regular
// file below it, in byte order of the path relative to it (symbolic links to files are read,
// those to directories are not followed). A file name holding a line break cannot appear in an
// ids file: it is left out and named in `warnings`. A path that cannot be read ends the run.
std::vector<InputFile> list_inputs(const std::vector<InputPath>& paths,
                                   std::vector<std::string>& warnings);

// How the ids files name a document: the file's path, followed by ':' and the line number for a
// file of one document per line.
inline std::string source_name(const InputFile& input, std::uint64_t line) {
  return input.whole_document ? input.path : input.path + ":" + std::to_string(line);
}

}  // namespace punb::vectorize

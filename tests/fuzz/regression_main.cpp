// Runs a fuzz target's entry function on every file of the directories (or
// on the files) named on the command line: the committed corpus as a plain
// test, without libFuzzer. A broken check aborts, naming the input.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int run(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::fprintf(stderr, "%s\n", file.c_str());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (!std::filesystem::is_directory(path)) {
      inputs += run(path);
      continue;
    }
    for (const auto& entry : std::filesystem::directory_iterator(path)) inputs += run(entry.path());
  }
  std::printf("%d inputs, no failure\n", inputs);
  return inputs > 0 ? 0 : 1;
}

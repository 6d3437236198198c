// hb_zasm: assembles a program text into its words (one decimal word a line)
// or, with -d, disassembles such a word file back to text.
//   hb_zasm FILE [-o OUT]      hb_zasm -d WORDFILE [-o OUT]
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/zasm/zasm.h"

int main(int argc, char** argv) {
  bool disassemble = false;
  std::string in_name, out_name;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "-d")
      disassemble = true;
    else if (a == "-o" && k + 1 < argc)
      out_name = argv[++k];
    else
      in_name = a;
  }
  if (in_name.empty()) {
    std::cerr << "usage: hb_zasm [-d] FILE [-o OUT]\n";
    return 1;
  }
  std::ifstream in(in_name);
  if (!in) {
    std::cerr << in_name << ":0: cannot be read\n";
    return 1;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string result, error;
  if (disassemble) {
    std::vector<int32_t> words;
    std::string line;
    int n = 0;
    while (std::getline(buffer, line)) {
      ++n;
      if (line.empty()) continue;
      try {
        size_t used = 0;
        const long long v = std::stoll(line, &used);
        if (used != line.size() || v < INT32_MIN || v > INT32_MAX) throw 0;
        words.push_back(static_cast<int32_t>(v));
      } catch (...) {
        std::cerr << in_name << ":" << n << ": not a word\n";
        return 1;
      }
    }
    if (!zasm::Disassemble(words, &result, &error)) {
      std::cerr << in_name << ":0: " << error << "\n";
      return 1;
    }
  } else {
    zasm::Assembly assembly;
    if (!zasm::Assemble(buffer.str(), in_name, &assembly, &error)) {
      std::cerr << error << "\n";
      return 1;
    }
    for (int32_t w : assembly.words) result += std::to_string(w) + "\n";
  }
  if (out_name.empty()) {
    std::cout << result;
  } else {
    std::ofstream out(out_name);
    out << result;
    if (!out) {
      std::cerr << out_name << ":0: cannot be written\n";
      return 1;
    }
  }
  return 0;
}

// hb_dictgen: reads the catalog definition and the message definitions,
// checks them and writes catalog_gen.h and catalog_gen.cc. A fault is
// reported as FILE:LINE: message with exit status 1, and nothing is written.
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/dictgen/catalog_model.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: hb_dictgen --catalog catalog.def --messages messages.def --out DIR\n");
  return 2;
}

bool WriteFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string catalog_path, messages_path, out_dir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return Usage();
    if (a == "--catalog") {
      catalog_path = argv[++i];
    } else if (a == "--messages") {
      messages_path = argv[++i];
    } else if (a == "--out") {
      out_dir = argv[++i];
    } else {
      return Usage();
    }
  }
  if (catalog_path.empty() || messages_path.empty() || out_dir.empty()) return Usage();

  dictgen::Catalog catalog;
  dictgen::DefError error;
  std::string header, source;
  if (!dictgen::ReadCatalog(catalog_path, &catalog, &error) ||
      !dictgen::ReadMessages(messages_path, &catalog, &error) ||
      !dictgen::CheckCatalog(catalog, &error) ||
      !dictgen::Generate(catalog, &header, &source, &error)) {
    std::fprintf(stderr, "%s:%d: %s\n", error.where.file.c_str(), error.where.line,
                 error.message.c_str());
    return 1;
  }
  if (!WriteFile(out_dir + "/catalog_gen.h", header) ||
      !WriteFile(out_dir + "/catalog_gen.cc", source)) {
    std::fprintf(stderr, "hb_dictgen: cannot write into %s\n", out_dir.c_str());
    return 1;
  }
  return 0;
}

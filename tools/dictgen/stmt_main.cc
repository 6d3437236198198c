// hb_dictstm: reads the catalog definition and the dictionary's statement
// files, compiles every statement to assembler text (kept in the output
// directory's zasm/ folder), assembles and encodes it, runs the build
// checks and writes stmt_images_gen.h and stmt_images_gen.cc. A fault is
// reported as FILE:LINE: message with exit status 1, and nothing is written.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/dictgen/stmt_model.h"

namespace {

bool WriteFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

int Fail(const dictgen::DefError& e) {
  std::fprintf(stderr, "%s:%d: %s\n", e.where.file.c_str(), e.where.line, e.message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string catalog_path, out_dir;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--catalog" && i + 1 < argc) {
      catalog_path = argv[++i];
    } else if (a == "--out" && i + 1 < argc) {
      out_dir = argv[++i];
    } else if (!a.empty() && a[0] != '-') {
      files.push_back(a);
    } else {
      files.clear();
      break;
    }
  }
  if (catalog_path.empty() || out_dir.empty() || files.empty()) {
    std::fprintf(stderr, "usage: hb_dictstm --catalog catalog.def --out DIR FILE.dst...\n");
    return 2;
  }
  dictgen::Catalog catalog;
  dictgen::DefError error;
  if (!dictgen::ReadCatalog(catalog_path, &catalog, &error) ||
      !dictgen::CheckCatalog(catalog, &error))
    return Fail(error);
  std::vector<dictgen::Statement> statements;
  for (const std::string& f : files)
    if (!dictgen::ReadStatements(f, catalog, &statements, &error)) return Fail(error);
  std::vector<dictgen::StmtImage> images(statements.size());
  for (std::size_t i = 0; i < statements.size(); ++i)
    if (!dictgen::CompileStatement(statements[i], &images[i], &error)) return Fail(error);
  if (!dictgen::CheckImages(images, &error)) return Fail(error);
  std::string header, source;
  dictgen::WriteImages(images, &header, &source);
  std::error_code ec;
  std::filesystem::create_directories(out_dir + "/zasm", ec);
  for (const dictgen::Statement& s : statements)
    if (!WriteFile(out_dir + "/zasm/" + s.name + ".zasm", s.text)) ec = std::make_error_code(std::errc::io_error);
  if (ec || !WriteFile(out_dir + "/stmt_images_gen.h", header) ||
      !WriteFile(out_dir + "/stmt_images_gen.cc", source)) {
    std::fprintf(stderr, "hb_dictstm: cannot write into %s\n", out_dir.c_str());
    return 1;
  }
  return 0;
}

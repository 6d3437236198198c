// The dictionary's statements as hb_dictstm reads them from dict/stmts/*.dst:
// each statement's name, its slot or shared id, its record blocks over
// system tables, its parameter and result fields and its steps, compiled to
// the program assembler's text, assembled and encoded as an image (the
// inverse of DDPrepare's decoder). See dict/README.md, "Statements".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/dictgen/catalog_model.h"

namespace dictgen {

// A record block of a statement: a table (kind 1) or one of its indexes
// (kind 2, `base` the block of its table).
struct StmtBlock {
  std::string name;
  int32_t kind = 1;
  int32_t number = 0;     // table or index number
  int32_t table = 0;      // the system table it reads
  std::string base;       // kind 2: the table's block
  int32_t key_length = 0;
  int32_t record_length = 0;
};

struct Statement {
  Where where;
  std::string name;
  int32_t slot = -1;  // a private statement's work-block slot
  int32_t id = 0;     // a shared statement's id (negative)
  bool kernel_protocol = false;
  std::vector<StmtBlock> blocks;
  std::vector<std::string> inputs, outputs;  // field names of the assembler text
  std::string text;                          // the assembler text
};

// A statement compiled and encoded.
struct StmtImage {
  Statement statement;
  std::vector<int32_t> words;   // the assembled program (descriptor first)
  std::vector<int16_t> header;  // N values
  std::vector<int32_t> body;    // the run-length encoded storage
  int32_t storage_words = 0;    // M
};

// Reads the statements of one .dst file (columns resolved against the
// catalog) and appends them; false with the first fault.
bool ReadStatements(const std::string& path, const Catalog& catalog,
                    std::vector<Statement>* out, DefError* error);
// Assembles and encodes a statement; false with the fault.
bool CompileStatement(const Statement& s, StmtImage* image, DefError* error);
// The build checks of every image against the transcribed rules; false
// with the first fault, naming statement and rule.
bool CheckImages(const std::vector<StmtImage>& images, DefError* error);
// The generated header and source of the images.
void WriteImages(const std::vector<StmtImage>& images, std::string* header, std::string* source);

// Run-length encoding of storage words: runs of three or more equal words
// as (-count, word), the rest as (count, words...).
std::vector<int32_t> EncodeRuns(const std::vector<int32_t>& words);

}  // namespace dictgen

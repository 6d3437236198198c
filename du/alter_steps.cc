// The builders of an alteration work block: a list of 14-word steps that
// says, from left to right, how each byte range of a new row comes from the
// old row (copied, moved into the key, converted, taken from the default
// image, generated). Every builder works on a copy of the caller's block
// and writes it back only when it succeeds, so a full block (status 1) or a
// step list in another state (-19077) leaves the caller's block unchanged.
#include <cstring>
#include <vector>

#include "du/alter_table.h"
#include "du/table_internal.h"
#include "kernel/error_report.h"
#include "platform/host_services.h"
#include "platform/packed_decimal.h"
#include "platform/record_conversion.h"

namespace {

constexpr int32_t kFull = 1;

// The caller's block: its capacity must lie inside the words it has.
int32_t Capacity(std::span<const int32_t> block) {
  if (block.size() <= static_cast<size_t>(ALR_CAPACITY)) return -1;
  const int32_t capacity = block[ALR_CAPACITY];
  return capacity < 0 || static_cast<size_t>(capacity) > block.size() ? -1 : capacity;
}

class Work {
 public:
  explicit Work(std::vector<int32_t> words) : w_(std::move(words)) {}
  int32_t& operator[](int32_t i) { return w_[static_cast<size_t>(i)]; }
  const std::vector<int32_t>& words() const { return w_; }
  int32_t capacity() const { return w_[ALR_CAPACITY]; }
  int32_t in_use() const { return w_[ALR_IN_USE]; }
  int32_t end() const { return in_use() - 1; }  // the end marker

  // Word 29 on becomes the one copy step of the whole old row.
  void Initialise() {
    std::fill(w_.begin() + ALR_STEPS, w_.begin() + ALR_MIN_WORDS, 0);
    w_[ALR_STEPS + ALR_STEP_KIND] = ALR_COPY;
    w_[ALR_STEPS + ALR_STEP_LENGTH] = w_[ALR_OLD_RECLEN];
    w_[ALR_MIN_WORDS - 1] = -1;
    w_[ALR_IN_USE] = ALR_MIN_WORDS;
  }
  bool Sound() const { return DUALRListSound(w_); }
  // A zeroed step of `kind` inserted at `pos`; kFull without room.
  int32_t Insert(int32_t pos, int32_t kind, int32_t offset, int32_t length) {
    if (in_use() + ALR_STEP_WORDS > capacity()) return kFull;
    std::copy_backward(w_.begin() + pos, w_.begin() + in_use(),
                       w_.begin() + in_use() + ALR_STEP_WORDS);
    std::fill(w_.begin() + pos, w_.begin() + pos + ALR_STEP_WORDS, 0);
    w_[static_cast<size_t>(pos)] = kind;
    w_[static_cast<size_t>(pos + ALR_STEP_OFFSET)] = offset;
    w_[static_cast<size_t>(pos + ALR_STEP_LENGTH)] = length;
    w_[ALR_IN_USE] += ALR_STEP_WORDS;
    return 0;
  }
  void Remove(int32_t pos) {
    std::copy(w_.begin() + pos + ALR_STEP_WORDS, w_.begin() + in_use(), w_.begin() + pos);
    w_[ALR_IN_USE] -= ALR_STEP_WORDS;
  }
  int32_t kind(int32_t pos) const { return w_[static_cast<size_t>(pos)]; }
  int32_t offset(int32_t pos) const { return w_[static_cast<size_t>(pos + ALR_STEP_OFFSET)]; }
  int32_t length(int32_t pos) const { return w_[static_cast<size_t>(pos + ALR_STEP_LENGTH)]; }

  // The first step taking old bytes whose range holds [offset, + length)
  // (length 0: the offset). None: -19077 for a positive length, else 0 with
  // the end marker.
  int32_t Find(int32_t offset, int32_t length, int32_t* pos) const {
    for (int32_t p = ALR_STEPS; p < end(); p += ALR_STEP_WORDS) {
      const int32_t k = kind(p);
      if (k != ALR_COPY && k != ALR_TO_KEY && k != ALR_NEXT_TO_KEY && k != ALR_CONVERT) continue;
      const int64_t s = offset_of(p), e = s + length_of(p);
      const bool holds =
          length > 0 ? s <= offset && int64_t{offset} + length <= e : s <= offset && offset < e;
      if (holds) {
        *pos = p;
        return 0;
      }
    }
    *pos = end();
    return length > 0 ? DU_BAD_ARGUMENT : 0;
  }
  // Makes [offset, + length) of the copy step at `pos` a step of its own.
  int32_t Split(int32_t* pos, int32_t offset, int32_t length) {
    const int32_t s = offset_of(*pos), l = length_of(*pos);
    if (kind(*pos) != ALR_COPY || offset < s || int64_t{offset} + length > int64_t{s} + l)
      return DU_BAD_ARGUMENT;
    if (offset > s) {
      if (int32_t rc = Insert(*pos, ALR_COPY, s, offset - s); rc != 0) return rc;
      *pos += ALR_STEP_WORDS;
      set_offset(*pos, offset);
      set_length(*pos, s + l - offset);
    }
    if (offset + length < s + l) {
      if (int32_t rc =
              Insert(*pos + ALR_STEP_WORDS, ALR_COPY, offset + length, s + l - offset - length);
          rc != 0)
        return rc;
      set_length(*pos, length);
    }
    return 0;
  }
  // Takes [offset, + length) out of the copy step that holds it.
  int32_t Drop(int32_t offset, int32_t length) {
    int32_t pos = 0;
    if (int32_t rc = Find(offset, length, &pos); rc != 0) return rc;
    if (kind(pos) != ALR_COPY) return DU_BAD_ARGUMENT;
    const int32_t s = offset_of(pos), l = length_of(pos);
    if (offset == s && length == l) {
      Remove(pos);
    } else if (offset == s) {
      set_offset(pos, s + length);
      set_length(pos, l - length);
    } else if (offset + length == s + l) {
      set_length(pos, l - length);
    } else {
      if (int32_t rc =
              Insert(pos + ALR_STEP_WORDS, ALR_COPY, offset + length, s + l - offset - length);
          rc != 0)
        return rc;
      set_length(pos, offset - s);
    }
    return 0;
  }
  // The step at which the new row reaches the old row's byte `offset`: the
  // copy step that holds it split there, or the end marker.
  int32_t SplitAt(int32_t offset, int32_t* pos) {
    if (int32_t rc = Find(offset, 0, pos); rc != 0) return rc;
    if (*pos == end() || offset_of(*pos) == offset) return 0;
    return Split(pos, offset, offset_of(*pos) + length_of(*pos) - offset);
  }
  void set_offset(int32_t pos, int32_t v) { w_[static_cast<size_t>(pos + ALR_STEP_OFFSET)] = v; }
  void set_length(int32_t pos, int32_t v) { w_[static_cast<size_t>(pos + ALR_STEP_LENGTH)] = v; }
  int32_t offset_of(int32_t pos) const { return offset(pos); }
  int32_t length_of(int32_t pos) const { return length(pos); }

 private:
  std::vector<int32_t> w_;
};

// Runs `build` on a copy of the block: a starting builder first lays the
// initial copy step down, a continuing one needs a sound list. The copy goes
// back only on success.
template <typename Build>
void Run(int32_t* status, std::span<int32_t> block, bool starts, Build build) {
  const int32_t capacity = Capacity(block);
  if (capacity < 0) {
    *status = DU_BAD_ARGUMENT;
    return;
  }
  if (capacity < ALR_MIN_WORDS) {
    *status = kFull;
    return;
  }
  Work work(std::vector<int32_t>(block.begin(), block.begin() + capacity));
  if (starts) {
    work.Initialise();
  } else if (!work.Sound()) {
    *status = DU_BAD_ARGUMENT;
    return;
  }
  *status = build(work);
  if (*status == 0) std::copy(work.words().begin(), work.words().end(), block.begin());
}

void LogInconsistency(const char* text) {
  StatusPair st;
  try {
    DSLogMsgShort(&st, SEV_INTERNAL, text, nullptr, static_cast<int32_t>(std::strlen(text)));
  } catch (const ServerException&) {
    // Logged; the builder goes on.
  }
}

int32_t Digits(uint64_t v) {
  int32_t n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

}  // namespace

bool DUALRListSound(std::span<const int32_t> block) {
  if (block.size() <= static_cast<size_t>(ALR_STEPS)) return false;
  const int64_t capacity = block[ALR_CAPACITY], n = block[ALR_IN_USE];
  if (capacity > static_cast<int64_t>(block.size()) || n < ALR_STEPS + 1 || n > capacity ||
      (n - ALR_STEPS - 1) % ALR_STEP_WORDS != 0)
    return false;
  for (int64_t p = ALR_STEPS; p < n - 1; p += ALR_STEP_WORDS)
    if (block[static_cast<size_t>(p)] == -1) return false;
  return block[static_cast<size_t>(n - 1)] == -1;
}

int32_t DUALRLengthFieldSize(int32_t type, int32_t precision, int32_t scale) {
  if (type == 5 || type == 30 || type == 35)
    return decimal_bytes(Digits(static_cast<uint32_t>(std::max(precision, 0))));
  if (type == 31 || type == 32 || type == 33) {
    const uint64_t v =
        (uint64_t{static_cast<uint32_t>(scale)} << 32) | static_cast<uint32_t>(precision);
    return decimal_bytes(Digits(v));
  }
  return 0;
}

void DUALRInitWork1(int32_t* status, std::span<int32_t> block) {
  Run(status, block, true, [](Work& w) {
    w[ALR_KIND] = 1;
    const int32_t key = w[ALR_OLD_KEYLEN];
    if (w.length(ALR_STEPS) <= key || key < 0) return DU_BAD_ARGUMENT;
    w.set_offset(ALR_STEPS, key);
    w.set_length(ALR_STEPS, w.length(ALR_STEPS) - key);
    return 0;
  });
}

void DUALRAddKeyParts1(int32_t* status, std::span<int32_t> block, int32_t key_offset,
                       int32_t key_length, int32_t second_offset, int32_t second_length) {
  Run(status, block, false, [&](Work& w) {
    if (w[ALR_KIND] != 1 || key_length < 1) return DU_BAD_ARGUMENT;
    if (int32_t rc = w.Drop(key_offset, key_length); rc != 0) return rc;
    int32_t p = ALR_STEPS, last7 = -1;
    for (; p < w.end() && w.kind(p) != ALR_COPY; p += ALR_STEP_WORDS) {
      if (w.kind(p) != ALR_TO_KEY) return DU_BAD_ARGUMENT;
      last7 = p;
    }
    if (last7 >= 0 && w.offset(last7) + w.length(last7) == key_offset) {
      w.set_length(last7, w.length(last7) + key_length);
    } else if (int32_t rc = w.Insert(p, ALR_TO_KEY, key_offset, key_length); rc != 0) {
      return rc;
    }
    if (second_offset < 1 || second_length < 1) return 0;
    if (int32_t rc = w.Drop(second_offset, second_length); rc != 0) return rc;
    for (p = ALR_STEPS; p < w.end() && w.kind(p) != ALR_NEXT_TO_KEY; p += ALR_STEP_WORDS) {
    }
    if (p < w.end() && w.offset(p) == second_offset + second_length) {
      w.set_offset(p, second_offset);
      w.set_length(p, w.length(p) + second_length);
      return 0;
    }
    return w.Insert(p, ALR_NEXT_TO_KEY, second_offset, second_length);
  });
}

void DUALRInitWork2(int32_t* status, std::span<int32_t> block) {
  Run(status, block, true, [](Work& w) {
    w[ALR_KIND] = 2;
    return w.Insert(ALR_STEPS, ALR_GENERATED_KEY, 0, w[ALR_NEW_KEYLEN]);
  });
}

void DUALRAddGenColumn1(int32_t* status, std::span<int32_t> block, int32_t as_key, int32_t length,
                        int32_t type, int32_t precision, int32_t scale,
                        std::span<const int32_t, 7> sequence) {
  Run(status, block, true, [&](Work& w) {
    const int32_t oldkey = w[ALR_OLD_KEYLEN], oldrec = w[ALR_OLD_RECLEN];
    if (oldrec < oldkey || length < 0) return DU_BAD_ARGUMENT;
    for (int32_t k = 0; k < 7; ++k) w[ALR_SEQUENCE + k] = sequence[static_cast<size_t>(k)];
    int32_t pos = ALR_STEPS;
    if (as_key != 0) {
      w[ALR_KIND] = 4;
      w.set_offset(ALR_STEPS, oldkey);
      w.set_length(ALR_STEPS, oldrec - oldkey);
    } else {
      w[ALR_KIND] = 8;
      if (int32_t rc = w.SplitAt(w[ALR_ADD_POSITION], &pos); rc != 0) return rc;
    }
    if (int32_t rc = w.Insert(pos, ALR_SEQUENCE_VALUE, 0, length); rc != 0) return rc;
    w[pos + LAY_OLD_TYPE] = type;
    w[pos + LAY_OLD_PRECISION] = precision;
    w[pos + LAY_OLD_SCALE] = scale;
    return 0;
  });
}

void DUALRAlterColumn1(int32_t* status, std::span<int32_t> block, int32_t offset, int32_t length,
                       int32_t length_field, int32_t old_type, int32_t old_precision,
                       int32_t old_scale, int32_t new_length, int32_t new_type,
                       int32_t new_precision, int32_t new_scale) {
  Run(status, block, true, [&](Work& w) {
    if (length < 1) return DU_BAD_ARGUMENT;  // no column
    w[ALR_KIND] = 7;
    const int32_t oldrec = w[ALR_OLD_RECLEN];
    if (length_field < 1) length_field = oldrec;
    const int32_t old_size = DUALRLengthFieldSize(old_type, old_precision, old_scale);
    const int32_t new_size = DUALRLengthFieldSize(new_type, new_precision, new_scale);
    int32_t pos = 0;
    if (int32_t rc = w.Find(offset, length, &pos); rc != 0) return rc;
    if (int32_t rc = w.Split(&pos, offset, length); rc != 0) return rc;
    w[pos + ALR_STEP_KIND] = ALR_CONVERT;
    w[pos + LAY_OLD_TYPE] = old_type;
    w[pos + LAY_OLD_PRECISION] = old_precision;
    w[pos + LAY_OLD_SCALE] = old_scale;
    w[pos + LAY_OLD_LENGTH_FIELD] = length_field;
    w[pos + LAY_OLD_LENGTH_FIELD_SIZE] = old_size;
    w[pos + LAY_NEW_LENGTH] = new_length;
    w[pos + LAY_NEW_TYPE] = new_type;
    w[pos + LAY_NEW_PRECISION] = new_precision;
    w[pos + LAY_NEW_SCALE] = new_scale;
    w[pos + LAY_NEW_LENGTH_FIELD] = length_field - length + new_length;
    w[pos + LAY_NEW_LENGTH_FIELD_SIZE] = new_size;
    const bool old_has = (old_type == 5 || old_type == 35) && old_size > 0 && length_field < oldrec;
    const bool new_has = (new_type == 5 || new_type == 35) && new_size > 0;
    if (old_has && !new_has) return w.Drop(length_field, old_size);
    if (old_has) {
      int32_t lf = 0;
      if (int32_t rc = w.Find(length_field, old_size, &lf); rc != 0) return rc;
      if (int32_t rc = w.Split(&lf, length_field, old_size); rc != 0) return rc;
      w[lf + ALR_STEP_KIND] = ALR_LENGTH_FIELD;
      w[lf + LAY_NEW_LENGTH] = new_size;
      return 0;
    }
    if (new_has && length_field < oldrec) {
      int32_t at = 0;
      if (int32_t rc = w.SplitAt(length_field, &at); rc != 0) return rc;
      if (int32_t rc = w.Insert(at, ALR_LENGTH_FIELD, 0, 0); rc != 0) return rc;
      w[at + LAY_NEW_LENGTH] = new_size;
    }
    return 0;
  });
}

void DUALRAddColumn1(int32_t* status, std::span<int32_t> block) {
  Run(status, block, true, [](Work& w) {
    w[ALR_KIND] = 9;
    const int32_t at_old = w[ALR_ADD_POSITION];
    const int32_t growth = w[ALR_NEW_RECLEN] - w[ALR_OLD_RECLEN];
    if (at_old < 0 || at_old > w[ALR_OLD_RECLEN] || growth < 0) return DU_BAD_ARGUMENT;
    int32_t pos = 0;
    if (int32_t rc = w.SplitAt(at_old, &pos); rc != 0) return rc;
    return w.Insert(pos, ALR_DEFAULT_BYTES, at_old, growth);
  });
}

void DUALRAddPKColumn1(int32_t* status, std::span<int32_t> block) {
  Run(status, block, true, [](Work& w) {
    const int32_t oldkey = w[ALR_OLD_KEYLEN], oldrec = w[ALR_OLD_RECLEN];
    const int32_t newkey = w[ALR_NEW_KEYLEN], newrec = w[ALR_NEW_RECLEN];
    const int32_t growth = (newrec - newkey) - (oldrec - oldkey);
    if (growth < 0) LogInconsistency("Invalid new record length detected in DUALRAddPKColumn1");
    if (oldkey != 12) LogInconsistency("Invalid key length detected in DUALRAddPKColumn1");
    w[ALR_KIND] = 3;
    if (oldkey > 0)
      if (int32_t rc = w.Drop(0, oldkey); rc != 0) return rc;
    if (int32_t rc = w.Insert(ALR_STEPS, ALR_DEFAULT_BYTES, 0, newkey); rc != 0) return rc;
    if (growth > 0) return w.Insert(w.end(), ALR_DEFAULT_BYTES, oldrec, growth);
    return 0;
  });
}

void DUALRDropColumn1(int32_t* status, std::span<int32_t> block, int32_t offset, int32_t length,
                      int32_t second_offset, int32_t second_length, int32_t type) {
  Run(status, block, true, [&](Work& w) {
    if (length < 1) return DU_BAD_ARGUMENT;  // no column
    const int32_t oldkey = w[ALR_OLD_KEYLEN], oldrec = w[ALR_OLD_RECLEN];
    const int32_t newrec = w[ALR_NEW_RECLEN];
    const int32_t second = second_length > 0 ? second_length : 0;
    const bool in_key = offset < oldkey;
    if (in_key && offset + length > oldkey)
      LogInconsistency("Mismatching key length in DUALRDropColumn1");
    if (in_key && oldrec + 12 != newrec + length + second)
      LogInconsistency("Mismatching generated record length in DUALRDropColumn1");
    if (!in_key && oldrec != newrec + length + second)
      LogInconsistency("Mismatching record length in DUALRDropColumn1");
    w[ALR_KIND] = type == 31 || type == 32 ? 12 : 10;
    if (second > 0)
      if (int32_t rc = w.Drop(second_offset, second); rc != 0) return rc;
    if (int32_t rc = w.Drop(offset, length); rc != 0) return rc;
    if (in_key) return w.Insert(ALR_STEPS, ALR_GENERATED_KEY, 0, w[ALR_NEW_KEYLEN]);
    return 0;
  });
}

void DUALRInitWork11(int32_t* status, std::span<int32_t> block) {
  Run(status, block, true, [](Work& w) {
    w[ALR_KIND] = 11;
    return 0;
  });
}

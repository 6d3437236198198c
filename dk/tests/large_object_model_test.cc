// Random puts, gets and frees of several large objects against in-memory
// byte strings: each object is allocated with a random length and filled by
// appends of random sizes; gets at random places (past the end only of
// complete objects) must give the model's bytes, puts that do not continue their page must be
// refused and change nothing, and once every object is freed the bitmap has every unit back.
#include <map>
#include <random>
#include <string>

#include "dk/tests/large_object_fixture.h"

namespace {

struct ModelObject {
  int64_t length = 0;  // allocated for
  std::string bytes;   // put so far
};

TEST_F(LargeObjectTest, RandomPutsGetsAndFreesAgreeWithAModel) {
  std::mt19937 rng(20261210);
  const int64_t before = FreeUnits();
  std::map<int32_t, std::pair<Object, ModelObject>> live;
  int32_t next_id = 1;
  auto pick = [&]() { return std::next(live.begin(), static_cast<long>(rng() % live.size())); };
  for (int step = 0; step < 600; ++step) {
    const uint32_t op = rng() % 10;
    if (live.size() < 2 || (op == 0 && live.size() < 8)) {
      Object o;
      ModelObject m;
      const int64_t kinds[] = {0, 1, 2008, 2009, 16344, 16345, 65496, 70000, 200000};
      m.length = rng() % 3 ? static_cast<int64_t>(rng() % 150000) : kinds[rng() % 9];
      ASSERT_EQ(Allocate(&o, m.length, 16, next_id), 0);
      live.emplace(next_id++, std::make_pair(o, m));
    } else if (op == 1) {
      auto it = pick();
      ASSERT_EQ(Free(it->second.first), 0);
      live.erase(it);
    } else if (op <= 5) {
      auto& [o, m] = pick()->second;
      const int64_t room = m.length - static_cast<int64_t>(m.bytes.size());
      if (room <= 0) continue;
      const int64_t n = 1 + static_cast<int64_t>(rng() % std::min<int64_t>(room, 40000));
      std::string piece = Pattern(n, rng());
      ASSERT_EQ(Put(o, static_cast<int64_t>(m.bytes.size()), piece), 0) << step;
      m.bytes += piece;
    } else if (op == 6) {
      // A put that neither continues a page nor starts one.
      auto& [o, m] = pick()->second;
      if (m.bytes.empty()) continue;
      const int64_t at = static_cast<int64_t>(rng() % m.bytes.size());
      int64_t start = 0;
      bool page_start = false;
      for (auto& [page, size] : Pages(o)) {
        page_start |= at == start;
        start += LobCapacity(size);
      }
      if (page_start) continue;
      EXPECT_EQ(Put(o, at, "zz"), -55) << step;
    } else {
      auto& [o, m] = pick()->second;
      const int64_t size = static_cast<int64_t>(m.bytes.size());
      int64_t at = static_cast<int64_t>(rng() % static_cast<uint32_t>(size + 3000));
      int32_t count = static_cast<int32_t>(rng() % 90000);
      // Past the bytes put so far lie pages no put has reached yet, unless
      // the object is complete: reads stay inside what is there.
      if (size < m.length) {
        if (size == 0) continue;
        at %= size;
        count = static_cast<int32_t>(std::min<int64_t>(count, size - at));
      }
      const std::string want =
          at < size ? m.bytes.substr(static_cast<size_t>(at), static_cast<size_t>(count)) : "";
      ASSERT_EQ(Get(o, at, count), want) << step << " at " << at << " count " << count;
    }
    if (step % 150 == 149) FlushAndDrop();
  }
  for (auto& [id, om] : live) {
    const bool complete = static_cast<int64_t>(om.second.bytes.size()) == om.second.length;
    const int32_t count = static_cast<int32_t>(om.second.bytes.size()) + (complete ? 1 : 0);
    EXPECT_EQ(Get(om.first, 0, count), om.second.bytes);
    ASSERT_EQ(Free(om.first), 0);
  }
  EXPECT_EQ(FreeUnits(), before);
}

}  // namespace

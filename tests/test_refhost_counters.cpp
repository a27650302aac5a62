// The reference host's event counters, which tests use to prove that the
// per-ray paths make no look-up and no query beyond the user pointer.
// Render threads count into lines of their own; the totals must still add
// up exactly.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "refhost/refhost.h"
#include "tests/host_fixture.h"

namespace {

class Counters : public zeltest::HostTest {};

TEST_F(Counters, CountsOfEveryThreadAddUp) {
  const miTag instance = add_light_instance({});
  const struct {
    int threads;
    int calls;
  } cases[] = {{1, 1000}, {2, 5000}, {8, 3000}, {40, 200}};  // 40: more threads than lines
  for (const auto& c : cases) {
    const uint64_t lookups = refhost::lookup_count();
    const uint64_t items = refhost::query_count(miQ_INST_ITEM);
    const uint64_t user_pointers = refhost::query_count(miQ_FUNC_USERPTR);
    std::vector<std::thread> threads;
    for (int t = 0; t < c.threads; ++t) {
      threads.emplace_back([&c, instance] {
        miState state{};
        void* slot = nullptr;
        miTag item = 0;
        for (int i = 0; i < c.calls; ++i) {
          mi_db_type(instance);
          mi_query(miQ_INST_ITEM, &state, instance, &item);
          mi_query(miQ_FUNC_USERPTR, &state, 0, &slot);  // no shader: unanswered, still counted
        }
      });
    }
    for (std::thread& t : threads) t.join();
    const uint64_t total = uint64_t(c.threads) * uint64_t(c.calls);
    EXPECT_EQ(refhost::lookup_count() - lookups, total) << c.threads << " threads";
    EXPECT_EQ(refhost::query_count(miQ_INST_ITEM) - items, total) << c.threads << " threads";
    EXPECT_EQ(refhost::query_count(miQ_FUNC_USERPTR) - user_pointers, total)
        << c.threads << " threads";
  }
}

TEST_F(Counters, ResetStartsFromZero) {
  const miTag instance = add_light_instance({});
  mi_db_type(instance);
  miTag item = 0;
  mi_query(miQ_INST_ITEM, nullptr, instance, &item);
  ASSERT_GT(refhost::lookup_count(), 0u);
  ASSERT_GT(refhost::query_count(miQ_INST_ITEM), 0u);
  refhost::reset();
  EXPECT_EQ(refhost::lookup_count(), 0u);
  EXPECT_EQ(refhost::query_count(miQ_INST_ITEM), 0u);
  EXPECT_EQ(refhost::query_count(-1), 0u);
  EXPECT_EQ(refhost::query_count(256), 0u);
}

}  // namespace

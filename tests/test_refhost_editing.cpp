// The reference host's scene editing: names qualified by the scopes they
// are defined in, look-ups from the innermost scope outwards, and the
// redefinition of a namesake.
#include <gtest/gtest.h>

#include <algorithm>

#include "refhost/editing.h"
#include "refhost/profiles.h"
#include "tests/host_fixture.h"

namespace {

char* copy(const std::string& text) { return mi_mem_int_strdup(__FILE__, __LINE__, text.c_str()); }

class Editing : public zeltest::HostTest {
 protected:
  void TearDown() override {
    while (refhost::scope_depth() > 0) refhost::leave_scope();
    HostTest::TearDown();
  }
};

TEST_F(Editing, ScopesQualifyDefinitions) {
  const struct {
    std::vector<std::string> scopes;
    std::string given, stored;
  } cases[] = {
      {{}, "lamp", "lamp"},
      {{"a"}, "lamp", "a::lamp"},
      {{"a", "b"}, "lamp", "a::b::lamp"},
      {{"a"}, "a::lamp", "a::lamp"},  // already carries the prefix
      {{"zel_lightprofile"}, "zel_lightprofile::x", "zel_lightprofile::x"},
  };
  for (const auto& k : cases) {
    refhost::reset();
    for (const auto& s : k.scopes) refhost::enter_scope(s);
    mi_api_light_begin(copy(k.given));
    const miTag light = mi_api_light_end();
    EXPECT_NE(light, 0u) << k.stored;
    EXPECT_EQ(refhost::find(k.stored), light) << k.stored;
    EXPECT_EQ(refhost::name_of(light), k.stored);
    while (refhost::scope_depth() > 0) refhost::leave_scope();
  }
  EXPECT_TRUE(refhost::errors().empty());
}

// A name means the innermost scope's element first, then the outer ones'.
TEST_F(Editing, LookUpsResolveFromTheInnermostScope) {
  const miTag outer = refhost::add_profile("p", {{0}, {0}, {1}});
  const miTag inner = refhost::add_profile("a::p", {{0}, {0}, {2}});
  EXPECT_EQ(mi_api_lightprofile_lookup(copy("p")), outer);
  refhost::enter_scope("a");
  EXPECT_EQ(mi_api_lightprofile_lookup(copy("p")), inner);
  EXPECT_EQ(mi_api_name_lookup(copy("p")), inner);
  refhost::enter_scope("b");
  EXPECT_EQ(mi_api_lightprofile_lookup(copy("p")), inner);
  EXPECT_EQ(mi_api_lightprofile_lookup(copy("q")), 0u);
  const auto log = refhost::edit_log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "lightprofile_lookup(p)"), 3);
}

// An instance made inside a scope finds the item defined there.
TEST_F(Editing, InstancesFindTheirItemInScope) {
  refhost::enter_scope("a");
  mi_api_light_begin(copy("lamp"));
  const miTag light = mi_api_light_end();
  mi_api_instance_begin(copy("lamp_inst"));
  const miTag inst = mi_api_instance_end(copy("lamp"), 0, 0);
  ASSERT_NE(inst, 0u);
  EXPECT_EQ(refhost::find("a::lamp_inst"), inst);
  miTag item = 0;
  EXPECT_EQ(mi_query(miQ_INST_ITEM, nullptr, inst, &item), 1);
  EXPECT_EQ(item, light);
  EXPECT_TRUE(refhost::errors().empty()) << refhost::errors().front();
}

// In incremental mode a definition of an existing name edits it in place;
// otherwise the host warns and the name moves to a new element.
TEST_F(Editing, RedefinitionEditsInPlaceOnlyIncrementally) {
  auto* first = static_cast<miLightprofile*>(mi_api_lightprofile_begin(copy("p")));
  first->setting_12 = 7;
  const miTag tag = mi_api_lightprofile_end();
  mi_api_incremental(1);
  auto* again = static_cast<miLightprofile*>(mi_api_lightprofile_begin(copy("p")));
  EXPECT_EQ(again->setting_12, 7) << "the record as it stood";
  EXPECT_EQ(mi_api_lightprofile_end(), tag);
  EXPECT_TRUE(refhost::warnings().empty());
  mi_api_incremental(0);
  mi_api_lightprofile_begin(copy("p"));
  const miTag replaced = mi_api_lightprofile_end();
  EXPECT_NE(replaced, tag);
  EXPECT_EQ(refhost::find("p"), replaced);
  EXPECT_EQ(refhost::warnings().size(), 1u);
}

TEST_F(Editing, ScopeApplyGivesThePrefixedName) {
  EXPECT_STREQ(mi_api_scope_apply(copy("")), "");
  refhost::enter_scope("a");
  refhost::enter_scope("b");
  EXPECT_STREQ(mi_api_scope_apply(copy("")), "a::b::");
  EXPECT_STREQ(mi_api_scope_apply(copy("x")), "a::b::x");
  EXPECT_EQ(refhost::scope_prefix(), "a::b::");
}

}  // namespace

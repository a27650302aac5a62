// The search for the first instance of an item type below an instance:
// depth first through nested groups, members in index order.
#include <string>

#include "refhost/refhost.h"
#include "shaders/light_object.h"
#include "tests/host_fixture.h"

namespace {

using zeltest::HostTest;

class FirstInstance : public HostTest {};

TEST_F(FirstInstance, DepthFirstThroughNestedGroups) {
  using refhost::add_group;
  using refhost::add_instance;
  const refhost::Matrix id = refhost::identity();
  refhost::Geometry ball;
  const miTag object = refhost::add_object("ball", ball);
  refhost::LightDesc lamp_desc;
  const miTag lamp = refhost::add_light("lamp", lamp_desc);

  const miTag of_object = add_instance("of_object", object, id);
  const miTag of_lamp = add_instance("of_lamp", lamp, id);
  const miTag of_nothing = add_instance("of_nothing", 0, id);
  const miTag of_empty = add_instance("of_empty", add_group("empty", {}), id);
  // Three levels down on the first member, one level on the second.
  const miTag deep = add_instance("deep", object, id);
  const miTag level2 = add_instance("level2", add_group("g2", {of_lamp, deep}), id);
  const miTag level1 = add_instance("level1", add_group("g1", {of_empty, level2}), id);
  const miTag shallow = add_instance("shallow", object, id);
  const miTag nested = add_instance("nested", add_group("g0", {level1, shallow}), id);
  // A zero member is passed over.
  const miTag with_gap = add_instance("with_gap", add_group("gap", {0, of_nothing, shallow}), id);
  const miTag lamps = add_instance("lamps", add_group("lamps", {of_lamp}), id);

  const struct {
    const char* label;
    miTag tag;
    int type;
    miTag expected;
  } cases[] = {{"no tag", 0, miSCENE_OBJECT, 0},
               {"not an instance", object, miSCENE_OBJECT, 0},
               {"instance of the type", of_object, miSCENE_OBJECT, of_object},
               {"instance of another type", of_lamp, miSCENE_OBJECT, 0},
               {"the other type asked for", of_lamp, miSCENE_LIGHT, of_lamp},
               {"instance without item", of_nothing, miSCENE_OBJECT, 0},
               {"empty group", of_empty, miSCENE_OBJECT, 0},
               {"first member searched to the bottom", nested, miSCENE_OBJECT, deep},
               {"light found on the way down", nested, miSCENE_LIGHT, of_lamp},
               {"zero member and itemless instance skipped", with_gap, miSCENE_OBJECT, shallow},
               {"nothing of the type below", lamps, miSCENE_OBJECT, 0},
               {"a group is an item type too", nested, miSCENE_GROUP, nested}};
  for (const auto& c : cases)
    EXPECT_EQ(get_first_instance_type(c.tag, c.type), c.expected) << c.label;
  EXPECT_EQ(refhost::total_pins(), 0);
}

// A group edited into holding an instance of itself, directly or through
// another group, is searched once: the search neither loops nor runs out
// of stack, and still finds what lies beside the cycle.
TEST_F(FirstInstance, GroupsThatContainThemselvesAreSearchedOnce) {
  using refhost::add_group;
  using refhost::add_instance;
  using refhost::set_group_members;
  const refhost::Matrix id = refhost::identity();
  const miTag object = refhost::add_object("ball", {});
  const miTag ball = add_instance("ball_inst", object, id);

  const miTag self = add_group("self", {});
  const miTag of_self = add_instance("of_self", self, id);
  // Forty copies of itself: without the guard, a search that merely
  // stopped at some depth would still take 40^depth steps.
  set_group_members(self, std::vector<miTag>(40, of_self));

  const miTag one = add_group("one", {});
  const miTag two = add_group("two", {});
  const miTag of_one = add_instance("of_one", one, id);
  const miTag of_two = add_instance("of_two", two, id);
  set_group_members(one, {of_two, of_two});
  set_group_members(two, {of_one, of_one, ball});

  const miTag beside = add_group("beside", {});
  const miTag of_beside = add_instance("of_beside", beside, id);
  set_group_members(beside, {of_beside, of_self, ball});

  const struct {
    const char* label;
    miTag tag;
    int type;
    miTag expected;
  } cases[] = {{"a group of nothing but itself", of_self, miSCENE_OBJECT, 0},
               {"two groups holding each other, an object beside", of_one, miSCENE_OBJECT, ball},
               {"entered from the other group", of_two, miSCENE_OBJECT, ball},
               {"itself and a cycle first, then the object", of_beside, miSCENE_OBJECT, ball},
               {"the group itself is still an item type", of_self, miSCENE_GROUP, of_self}};
  for (const auto& c : cases)
    EXPECT_EQ(get_first_instance_type(c.tag, c.type), c.expected) << c.label;
  EXPECT_EQ(refhost::total_pins(), 0);
}

}  // namespace

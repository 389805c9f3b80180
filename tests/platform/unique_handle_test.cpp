// The one handle owner: every handle it took is closed exactly once, on
// every path, and the empty value never is.
#include <gtest/gtest.h>

#include <type_traits>
#include <utility>
#include <vector>

#include "platform/unique_handle.h"

namespace vantrel {
namespace {

std::vector<int> closed;  // what RecordClose was given, in order

void RecordClose(int handle) { closed.push_back(handle); }

// An owner whose empty value is -1, as a file descriptor's.
using Owned = UniqueHandle<int, RecordClose, -1>;

class UniqueHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};

TEST_F(UniqueHandleTest, ClosesWhatItHoldsWhenItGoesAndNeverTheEmptyValue) {
  {
    Owned empty;
    Owned zero(0);  // 0 is a handle like any other when -1 is the empty one
    EXPECT_FALSE(empty);
    EXPECT_TRUE(zero);
  }
  EXPECT_EQ(closed, std::vector<int>{0});
}

TEST_F(UniqueHandleTest, MoveAssignmentClosesTheHeldHandleAndTakesTheOther) {
  {
    Owned a(1);
    Owned b(2);
    a = std::move(b);
    EXPECT_EQ(closed, std::vector<int>{1});
    EXPECT_EQ(a.get(), 2);
    EXPECT_FALSE(b);
    Owned c(std::move(a));
    EXPECT_EQ(c.get(), 2);
    EXPECT_FALSE(a);
    Owned& same = c;
    c = std::move(same);  // a self-move keeps the handle open
    EXPECT_EQ(closed, std::vector<int>{1});
  }
  EXPECT_EQ(closed, (std::vector<int>{1, 2}));
}

TEST_F(UniqueHandleTest, ResetClosesTheOldHandleAndReleaseGivesOneUpUnclosed) {
  {
    Owned a(3);
    a.reset(4);
    EXPECT_EQ(closed, std::vector<int>{3});
    EXPECT_EQ(a.release(), 4);
    EXPECT_FALSE(a);
    a.reset(5);
    a.reset();
    EXPECT_EQ(closed, (std::vector<int>{3, 5}));
  }
  EXPECT_EQ(closed, (std::vector<int>{3, 5})) << "released and emptied handles are not closed again";
}

// Owners of pointer handles (a journal, a curl session) are empty as nullptr
// and, like every owner, can be moved but never copied.
TEST_F(UniqueHandleTest, PointerHandlesAreEmptyAsNullAndOwnersCannotBeCopied) {
  static int object = 0;
  using Pointer = UniqueHandle<int*, [](int* p) { closed.push_back(*p); }>;
  {
    Pointer none;
    EXPECT_FALSE(none);
    object = 7;
    Pointer held(&object);
    EXPECT_TRUE(held);
  }
  EXPECT_EQ(closed, std::vector<int>{7});
  static_assert(!std::is_copy_constructible_v<Pointer> && !std::is_copy_assignable_v<Pointer>);
  static_assert(std::is_nothrow_move_constructible_v<Pointer> && std::is_nothrow_move_assignable_v<Pointer>);
}

}  // namespace
}  // namespace vantrel

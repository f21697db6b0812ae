// The owning-handle template over kinds shaped like the program's own: a
// pointer that is empty when null (a registry key, a BSTR, an ODBC handle),
// a descriptor that is empty at -1 and whose close reports an error, and a
// kind whose empty value comes from a function (a directory search).
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include "platform/result.h"

#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace qlx::platform {
namespace {

// What each kind closed, in order.
template <typename Handle>
std::vector<Handle>& ClosedHandles() {
  static std::vector<Handle> closed;
  return closed;
}

int objects[2];

void CloseObject(int* object) { ClosedHandles<int*>().push_back(object); }

// Reports EIO, as close(2) may, for the descriptor 5.
constexpr int kFailingDescriptor = 5;
constexpr int kIoError = 5;
int CloseDescriptor(int fd) {
  ClosedHandles<int>().push_back(fd);
  return fd == kFailingDescriptor ? kIoError : 0;
}

// Reports success as a Windows BOOL closer does: TRUE, and FALSE for the
// second object.
int CloseKernelObject(int* object) {
  ClosedHandles<int*>().push_back(object);
  return object == &objects[1] ? 0 : 1;
}

struct SearchTraits {
  using Handle = std::uintptr_t;
  static Handle Invalid() { return ~Handle{0}; }
  static void Close(Handle search) { ClosedHandles<Handle>().push_back(search); }
};

struct PointerKind {
  using Traits = ClosedBy<int*, &CloseObject>;
  static int* First() { return &objects[0]; }
  static int* Second() { return &objects[1]; }
};

struct DescriptorKind {
  using Traits = ClosedBy<int, &CloseDescriptor, -1>;
  static int First() { return 0; }  // standard input is a descriptor like any other
  static int Second() { return kFailingDescriptor; }
  static constexpr int kFailed = kIoError;
  static constexpr int kClosedWell = 0;
};

struct KernelObjectKind {
  using Traits = ClosedBy<int*, &CloseKernelObject, nullptr, 1>;
  static int* First() { return &objects[0]; }
  static int* Second() { return &objects[1]; }
  static constexpr int kFailed = 0;
  static constexpr int kClosedWell = 1;
};

struct SearchKind {
  using Traits = SearchTraits;
  static std::uintptr_t First() { return 0; }
  static std::uintptr_t Second() { return 42; }
};

template <typename Kind>
class UniqueHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { ClosedHandles<typename Kind::Traits::Handle>().clear(); }
};

using Kinds = ::testing::Types<PointerKind, DescriptorKind, KernelObjectKind, SearchKind>;
TYPED_TEST_SUITE(UniqueHandleTest, Kinds);

// Every way of handing a handle on closes each handle exactly once, and only
// when nobody owns it any longer.
TYPED_TEST(UniqueHandleTest, OwnsEachHandleAndClosesItExactlyOnce) {
  using Handle = typename TypeParam::Traits::Handle;
  using Owner = UniqueHandle<typename TypeParam::Traits>;
  const Handle first = TypeParam::First();
  const Handle second = TypeParam::Second();
  const Handle empty = TypeParam::Traits::Invalid();
  const std::vector<Handle>& closed = ClosedHandles<Handle>();
  {
    Owner owner;
    EXPECT_FALSE(owner);
    EXPECT_EQ(owner.get(), empty);
    *owner.put() = first;
    EXPECT_TRUE(owner);

    Owner moved(std::move(owner));
    EXPECT_FALSE(owner);
    EXPECT_EQ(moved.get(), first);
    EXPECT_TRUE(closed.empty());

    Owner other(second);
    other = std::move(moved);  // closes what `other` held
    EXPECT_EQ(closed, std::vector<Handle>{second});
    EXPECT_EQ(other.release(), first);
    EXPECT_FALSE(other);

    other.reset(second);
    other.reset(first);
    EXPECT_EQ(closed, (std::vector<Handle>{second, second}));
    *other.put() = second;  // closes `first` before the call fills the place
    EXPECT_EQ(closed.back(), first);
  }
  EXPECT_EQ(closed, (std::vector<Handle>{second, second, first, second}));
}

TYPED_TEST(UniqueHandleTest, CloseNowReportsWhatTheCloseReported) {
  using Handle = typename TypeParam::Traits::Handle;
  UniqueHandle<typename TypeParam::Traits> owner(TypeParam::Second());
  if constexpr (std::is_same_v<decltype(owner.close()), int>) {
    EXPECT_EQ(owner.close(), TypeParam::kFailed);
    EXPECT_EQ(owner.close(), TypeParam::kClosedWell)
        << "nothing held: what a close that went well reports, in the closer's terms";
  } else {
    owner.close();
  }
  EXPECT_FALSE(owner);
  EXPECT_EQ(ClosedHandles<Handle>().size(), 1u);
}

// The other shared header: a failure is one whatever its code, in both forms.
TEST(ResultTest, AFailureWithTheCodeZeroIsAFailureInBothForms) {
  const Result<> nothing = Failure{0};
  const Result<int> value = Failure{0};
  EXPECT_FALSE(nothing);
  EXPECT_FALSE(value);
  EXPECT_TRUE(Result<>());
}

}  // namespace
}  // namespace qlx::platform

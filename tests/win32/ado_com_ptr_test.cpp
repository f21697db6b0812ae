#include "platform/win32/ado_com_ptr.h"

#include <gtest/gtest.h>

#include <utility>

namespace qlx::platform::win32 {
namespace {

// Counts the references given back to it, as a COM object would.
struct Counted {
  unsigned long AddRef() { return ++references; }
  unsigned long Release() { return --references; }
  unsigned long references = 1;
};

TEST(AdoComPtrTest, ReleasesTheReferenceItHolds) {
  Counted object;
  { ComPtr<Counted> pointer(&object); }
  EXPECT_EQ(object.references, 0u);
}

TEST(AdoComPtrTest, MovingHandsTheReferenceOnAndReleasesTheReplacedOne) {
  Counted object;
  Counted replaced;
  ComPtr<Counted> first(&object);
  ComPtr<Counted> second(&replaced);
  ComPtr<Counted> third(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_EQ(third.get(), &object);
  EXPECT_EQ(object.references, 1u);

  second = std::move(third);
  EXPECT_EQ(replaced.references, 0u);
  EXPECT_EQ(second.get(), &object);
  EXPECT_EQ(object.references, 1u);
  second = ComPtr<Counted>();
  EXPECT_EQ(object.references, 0u);
}

TEST(AdoComPtrTest, PutReleasesWhatIsHeldAndAdoptsTheOutParameter) {
  Counted old_object;
  Counted new_object;
  Counted queried;
  ComPtr<Counted> pointer(&old_object);
  *pointer.put() = &new_object;
  EXPECT_EQ(old_object.references, 0u);
  EXPECT_EQ(pointer.get(), &new_object);
  *pointer.put_void() = &queried;  // the same place, for QueryInterface
  EXPECT_EQ(new_object.references, 0u);
  EXPECT_EQ(pointer.get(), &queried);
}

TEST(AdoComPtrTest, ReleaseGivesUpTheReferenceUncounted) {
  Counted object;
  ComPtr<Counted> pointer(&object);
  EXPECT_EQ(pointer.release(), &object);
  EXPECT_FALSE(pointer);
  EXPECT_EQ(object.references, 1u);
}

}  // namespace
}  // namespace qlx::platform::win32

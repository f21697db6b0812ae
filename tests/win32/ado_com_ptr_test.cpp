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

TEST(AdoComPtrTest, AnEmptyPointerReleasesNothing) {
  ComPtr<Counted> pointer;
  EXPECT_FALSE(pointer);
  EXPECT_EQ(pointer.get(), nullptr);
}

TEST(AdoComPtrTest, MovingHandsTheReferenceOnWithoutCounting) {
  Counted object;
  ComPtr<Counted> first(&object);
  ComPtr<Counted> second(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_EQ(second.get(), &object);
  EXPECT_EQ(object.references, 1u);
  second = ComPtr<Counted>();
  EXPECT_EQ(object.references, 0u);
}

TEST(AdoComPtrTest, MoveAssignmentReleasesTheReplacedReference) {
  Counted old_object;
  Counted new_object;
  ComPtr<Counted> pointer(&old_object);
  pointer = ComPtr<Counted>(&new_object);
  EXPECT_EQ(old_object.references, 0u);
  EXPECT_EQ(new_object.references, 1u);
}

TEST(AdoComPtrTest, PutReleasesWhatIsHeldAndAdoptsTheOutParameter) {
  Counted old_object;
  Counted new_object;
  ComPtr<Counted> pointer(&old_object);
  *pointer.put() = &new_object;
  EXPECT_EQ(old_object.references, 0u);
  EXPECT_EQ(pointer.get(), &new_object);
  pointer.reset();
  EXPECT_EQ(new_object.references, 0u);
}

TEST(AdoComPtrTest, PutVoidFillsTheSamePlace) {
  Counted object;
  ComPtr<Counted> pointer;
  *pointer.put_void() = &object;
  EXPECT_EQ(pointer.get(), &object);
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

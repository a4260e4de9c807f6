#include "bleedborder/core/persistent.h"

#include <gtest/gtest.h>

#include <string>

#include "bleedborder/core/exceptions.h"

using namespace bleedborder;

namespace {

class TSource : public TPersistent {
 public:
  const char* ClassName() const override { return "TSource"; }
};

class TTarget : public TPersistent {
 public:
  const char* ClassName() const override { return "TTarget"; }
};

// Knows how to copy itself into a TTarget.
class TCopyable : public TPersistent {
 public:
  void AssignTo(TPersistent* dest) override {
    if (auto* target = dynamic_cast<TTarget*>(dest)) {
      copiedInto = target;
      return;
    }
    TPersistent::AssignTo(dest);
  }
  TTarget* copiedInto = nullptr;
};

std::string FailureText(auto&& action) {
  try {
    action();
  } catch (const EConvertError& error) {
    return error.Message();
  }
  return "no failure";
}

TEST(PersistentTest, AssignFailuresNameBothClassesOrNil) {
  TSource source;
  TTarget target;
  EXPECT_EQ(FailureText([&] { target.TakeFrom(&source); }), "Cannot assign a TSource to a TTarget");
  EXPECT_EQ(FailureText([&] { target.TakeFrom(nullptr); }), "Cannot assign a nil to a TTarget");
  EXPECT_EQ(FailureText([&] { source.AssignTo(nullptr); }), "Cannot assign a TSource to a nil");
}

TEST(PersistentTest, TakeFromAsksTheSourceToAssignItself) {
  TCopyable source;
  TTarget target;
  target.TakeFrom(&source);
  EXPECT_EQ(source.copiedInto, &target);
}

}  // namespace

// SPDX-License-Identifier: MIT
#include "platform/worker_nice.h"

#include <gtest/gtest.h>

namespace vu30::platform {
namespace {

constexpr bool kFinite = false;

TEST(WorkerNice, StrongestWhenTheSystemAllowsIt) {
  EXPECT_EQ(ChooseWorkerNice(false, 0, 0, kFinite), -20);
  EXPECT_EQ(ChooseWorkerNice(false, 5, 0, true), -20);
}

TEST(WorkerNice, RefusedFallsBackToWhatRlimitNiceAllows) {
  // 20 - rlimit: 30 allows -10, 25 allows -5, 21 allows -1.
  EXPECT_EQ(ChooseWorkerNice(true, 0, 30, kFinite), -10);
  EXPECT_EQ(ChooseWorkerNice(true, 0, 25, kFinite), -5);
  EXPECT_EQ(ChooseWorkerNice(true, 0, 21, kFinite), -1);
  // A host already running niced still gets the limit's floor.
  EXPECT_EQ(ChooseWorkerNice(true, 10, 15, kFinite), 5);
}

TEST(WorkerNice, RefusedNeverWeakensTheThread) {
  // The default limit (0) and the limits 1 and 20 allow no lowering below 0.
  EXPECT_EQ(ChooseWorkerNice(true, 0, 0, kFinite), 0);
  EXPECT_EQ(ChooseWorkerNice(true, 0, 1, kFinite), 0);
  EXPECT_EQ(ChooseWorkerNice(true, 0, 20, kFinite), 0);
  // A limit that allows less than the thread already has keeps it.
  EXPECT_EQ(ChooseWorkerNice(true, -5, 22, kFinite), -5);
  EXPECT_EQ(ChooseWorkerNice(true, 7, 0, kFinite), 7);
}

TEST(WorkerNice, RefusedDespiteALimitThatAllowsEverythingKeepsTheCurrentNice) {
  // -20 was refused although the limit allows it: a security policy forbids
  // raising the priority, so asking again for anything stronger is pointless.
  EXPECT_EQ(ChooseWorkerNice(true, 0, 40, kFinite), 0);
  EXPECT_EQ(ChooseWorkerNice(true, 3, 0, true), 3);
}

}  // namespace
}  // namespace vu30::platform

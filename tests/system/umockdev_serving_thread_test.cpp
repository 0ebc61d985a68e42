// The device's serving thread: requests answered in the order queued, off the
// thread that queued them, and none left unanswered when it stops.
#include "sim/umockdev_serving_thread.h"

#include <glib-object.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(ServingThread, AnswersInOrderOnItsOwnThreadAndDrainsBeforeItStops) {
  // Any GObject stands for a client: the thread only holds a reference to it.
  GObject* client = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
  std::vector<int> answered;
  std::vector<std::thread::id> threads;
  int order[50];
  {
    sim::ServingThread server([&](UMockdevIoctlClient* c, void* context) {
      EXPECT_EQ(G_OBJECT(c), client);
      answered.push_back(*static_cast<int*>(context));
      threads.push_back(std::this_thread::get_id());
    });
    for (int i = 0; i < 50; ++i) {
      order[i] = i;
      server.Post(reinterpret_cast<UMockdevIoctlClient*>(client), &order[i]);
    }
  }
  ASSERT_EQ(answered.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(answered[static_cast<std::size_t>(i)], i);
  EXPECT_NE(threads.front(), std::this_thread::get_id());
  EXPECT_EQ(client->ref_count, 1u) << "each request's reference is given back";
  g_object_unref(client);
}

}  // namespace

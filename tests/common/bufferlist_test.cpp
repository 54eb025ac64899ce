#include <gtest/gtest.h>

#include <vector>

#include "common/bufferlist.h"

namespace {

CBuffer* MakeBuffer(int nCapacity, BYTE tag) {
    CBuffer* p = new CBuffer();
    p->EnsureCapacity(nCapacity);
    p->Append(&tag, 1);
    return p;
}

std::vector<BYTE> Tags(CBufferList& list) {
    std::vector<BYTE> tags;
    CAutoLock lock(list.LockObject());
    for (CBuffer* p = list.PeekHead(); p; p = p->Next()) {
        tags.push_back(p->Data()[0]);
    }
    return tags;
}

} // namespace

TEST(BufferListTest, PushPopAndInsertKeepOrderAndCount) {
    CBufferList list;
    EXPECT_EQ(list.PopHead(), nullptr);
    list.PushTail(MakeBuffer(8, 2));
    list.PushHead(MakeBuffer(8, 1));
    list.PushTail(MakeBuffer(8, 4));
    CBuffer* pTwo = list.PeekHead()->Next();
    list.InsertAfter(pTwo, MakeBuffer(8, 3));
    list.InsertAfter(nullptr, MakeBuffer(8, 0));
    EXPECT_EQ(Tags(list), (std::vector<BYTE>{0, 1, 2, 3, 4}));
    EXPECT_EQ(list.Count(), 5);

    CBuffer* pHead = list.PopHead();
    EXPECT_EQ(pHead->Data()[0], 0);
    EXPECT_EQ(pHead->Next(), nullptr);
    delete pHead;
    // Insert after the tail makes the new buffer the tail.
    CBuffer* pTail = list.PeekHead()->Next()->Next()->Next();
    list.InsertAfter(pTail, MakeBuffer(8, 5));
    list.PushTail(MakeBuffer(8, 6));
    EXPECT_EQ(Tags(list), (std::vector<BYTE>{1, 2, 3, 4, 5, 6}));
}

TEST(BufferListTest, AppendAndPrependMoveWholeLists) {
    CBufferList queue, ignored;
    queue.PushTail(MakeBuffer(8, 3));
    ignored.PushTail(MakeBuffer(8, 1));
    ignored.PushTail(MakeBuffer(8, 2));
    queue.PrependList(&ignored);
    EXPECT_EQ(Tags(queue), (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(ignored.Count(), 0);

    CBufferList pool;
    pool.AppendList(&queue);
    EXPECT_EQ(Tags(pool), (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(queue.PeekHead(), nullptr);
    pool.PushTail(MakeBuffer(8, 4)); // the tail moved with the elements
    EXPECT_EQ(Tags(pool), (std::vector<BYTE>{1, 2, 3, 4}));
    pool.DeleteAll();
    EXPECT_EQ(pool.Count(), 0);
}

TEST(BufferListTest, GetBufferTakesTheFirstThatFitsElseGrowsTheHead) {
    CBufferList pool;
    pool.PushTail(MakeBuffer(100, 1));
    pool.PushTail(MakeBuffer(2000, 2));
    pool.PushTail(MakeBuffer(3000, 3));

    CBuffer* p = pool.GetBuffer(1500);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(p->Capacity(), 2000);
    EXPECT_EQ(p->Length(), 0);
    EXPECT_EQ(pool.Count(), 2);
    delete p;

    // Nothing is big enough: the head is unlinked and grown.
    p = pool.GetBuffer(5000);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(p->Capacity(), 5000);
    EXPECT_EQ(Tags(pool), (std::vector<BYTE>{3}));
    delete p;

    CBufferList empty;
    p = empty.GetBuffer(64);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(p->Capacity(), 64);
    delete p;
}

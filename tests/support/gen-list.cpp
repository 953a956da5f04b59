/* gen-list.cpp - tests of CGenList: never-constructed and empty lists, element
 * ownership (destructors in list order), erase during a walk and find. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <new>
#include <vector>

#include "gen-list.h"

std::vector<int> g_aiDestroyed; /* element values seen by the destructor, in order */

void RecordDestroy(void *pElem)
{
    g_aiDestroyed.push_back(*static_cast<int *>(pElem));
}

int *NewInt(int i)
{
    return new (malloc(sizeof(int))) int(i);
}

int CompareInt(const void *pElem, const void *pKey)
{
    return *static_cast<const int *>(pElem) - *static_cast<const int *>(pKey);
}

/* The elements walked forwards; the count and the backward links must agree. */
std::vector<int> Contents(CGenList *pList)
{
    std::vector<int> ai, aiBack;
    CGenListIter it;
    for (CGenListIterInit(&it, pList); !CGenListIterAtEnd(&it); CGenListIterAdv(&it))
        ai.push_back(*static_cast<int *>(CGenListIterGetData(&it)));
    EXPECT_EQ((int)ai.size(), CGenListGetCount(pList));
    for (CGenListNode *p = pList->pTail->pPrev; p != pList->pHead; p = p->pPrev)
        aiBack.insert(aiBack.begin(), *static_cast<int *>(p->pData));
    EXPECT_EQ(ai, aiBack);
    return ai;
}

TEST(CGenList, EmptyAndNeverConstructedListsAreSafe)
{
    CGenList zero;
    memset(&zero, 0, sizeof zero);
    CGenListIter it;
    CGenListIterInit(&it, &zero);
    EXPECT_TRUE(CGenListIterAtEnd(&it));
    int i = 1;
    EXPECT_EQ(CGenListPushBack(&zero, &i), 0);

    CGenList list;
    ASSERT_EQ(CGenListConstruct(&list, 0, NULL), 1);
    CGenListIterInit(&it, &list);
    CGenListIterAdv(&it); /* stays at the end */
    EXPECT_EQ(CGenListIterGetData(&it), nullptr);
    EXPECT_EQ(CGenListErase(&list, it).pNode, it.pNode); /* erasing the end is a no-op */
    EXPECT_EQ(CGenListGetCount(&list), 0);
}

TEST(CGenList, OwningListDestroysAndFreesInOrderNonOwningLeavesAlone)
{
    CGenList list;
    for (int bMemTracing = 0; bMemTracing <= 1; bMemTracing++) {
        g_aiDestroyed.clear();
        (bMemTracing ? CGenListConstructForMemTracing : CGenListConstruct)(&list, 1, RecordDestroy);
        for (int i = 1; i <= 4; i++)
            ASSERT_EQ(CGenListPushBack(&list, NewInt(i)), 1);
        EXPECT_EQ(Contents(&list), (std::vector<int>{ 1, 2, 3, 4 }));
        CGenListClear(&list); /* LeakSanitizer checks the frees */
        EXPECT_EQ(g_aiDestroyed, (std::vector<int>{ 1, 2, 3, 4 }));
        ASSERT_EQ(CGenListPushBack(&list, NewInt(9)), 1); /* usable again after clear */
        CGenListDestruct(&list);
        EXPECT_EQ(g_aiDestroyed.back(), 9);
    }
    g_aiDestroyed.clear();
    int ai[3] = { 7, 8, 9 }; /* stack elements: a free would crash */
    CGenListConstruct(&list, 0, RecordDestroy);
    for (int &i : ai)
        CGenListPushBack(&list, &i);
    CGenListDestruct(&list);
    EXPECT_TRUE(g_aiDestroyed.empty());
}

TEST(CGenList, EraseDuringWalkKeepsLinksAndCount)
{
    g_aiDestroyed.clear();
    CGenList list;
    CGenListConstruct(&list, 1, RecordDestroy);
    for (int i = 0; i < 10; i++)
        CGenListPushBack(&list, NewInt(i));
    CGenListIter it;
    CGenListIterInit(&it, &list);
    while (!CGenListIterAtEnd(&it)) { /* drop the even ones, first included */
        if (*static_cast<int *>(CGenListIterGetData(&it)) % 2 == 0)
            it = CGenListErase(&list, it);
        else
            CGenListIterAdv(&it);
    }
    EXPECT_EQ(Contents(&list), (std::vector<int>{ 1, 3, 5, 7, 9 }));
    EXPECT_EQ(g_aiDestroyed, (std::vector<int>{ 0, 2, 4, 6, 8 }));
    int iKey = 9; /* erase the last: next is the end */
    CGenListIter next = CGenListErase(&list, CGenListFind(&list, CompareInt, &iKey));
    EXPECT_TRUE(CGenListIterAtEnd(&next));
    EXPECT_EQ(Contents(&list), (std::vector<int>{ 1, 3, 5, 7 }));
    CGenListDestruct(&list);
}

/* gen-list.cpp - CGenList: doubly linked list of untyped element pointers
 * between two sentinels embedded in the list record; nodes are separate heap
 * blocks, elements are stored as given and freed only by an owning list. */
#include "gen-list.h"

#include <stdlib.h>

/* Links the two sentinels of an empty list and sets its flags. */
static void CGenList_I_Setup(CGenList *pList, int iZeroFill, int bOwnsElements,
                             CGenListElemDestructor pfnDestructor)
{
    pList->pHead = &pList->head;
    pList->pTail = &pList->tail;
    pList->head.pPrev = NULL;
    pList->head.pNext = &pList->tail;
    pList->head.pData = NULL;
    pList->tail.pPrev = &pList->head;
    pList->tail.pNext = NULL;
    pList->tail.pData = NULL;
    pList->iZeroFill = iZeroFill;
    pList->iCount = 0;
    pList->bOwnsElements = bOwnsElements;
    pList->pfnDestructor = pfnDestructor;
}

/* Sets up an empty list whose nodes come from calloc. Returns 1. */
int CGenListConstruct(CGenList *pList, int bOwnsElements, CGenListElemDestructor pfnDestructor)
{
    CGenList_I_Setup(pList, 1, bOwnsElements, pfnDestructor);
    return 1;
}

/* Sets up an empty list whose nodes come from malloc. Returns 1. */
int CGenListConstructForMemTracing(CGenList *pList, int bOwnsElements,
                                   CGenListElemDestructor pfnDestructor)
{
    CGenList_I_Setup(pList, 0, bOwnsElements, pfnDestructor);
    return 1;
}

/* Appends pElem before the tail sentinel. Returns 1; 0 (list unchanged) when
 * out of memory or never constructed. */
int CGenListPushBack(CGenList *pList, void *pElem)
{
    if (pList->pHead == NULL)
        return 0;
    CGenListNode *pNode = static_cast<CGenListNode *>(
        pList->iZeroFill ? calloc(1, sizeof(CGenListNode)) : malloc(sizeof(CGenListNode)));
    if (pNode == NULL)
        return 0;
    CGenListNode *pLast = pList->pTail->pPrev;
    pNode->pPrev = pLast;
    pNode->pNext = pList->pTail;
    pNode->pData = pElem;
    pLast->pNext = pNode;
    pList->pTail->pPrev = pNode;
    pList->iCount++;
    return 1;
}

/* Removes the element at pos; returns the following position (pos itself at
 * the end). An owning list calls the destructor, then frees the element. */
CGenListIter CGenListErase(CGenList *pList, CGenListIter pos)
{
    CGenListNode *pNode = pos.pNode;
    /* the end, a never-constructed list's position and the head sentinel
       (whose pData is empty too but pPrev is NULL) are never unlinked */
    if (pNode == NULL || pNode->pNext == NULL || pNode->pPrev == NULL)
        return pos;
    CGenListIter next = { pNode->pNext };
    pNode->pPrev->pNext = pNode->pNext;
    pNode->pNext->pPrev = pNode->pPrev;
    if (pList->bOwnsElements) {
        if (pList->pfnDestructor != NULL)
            pList->pfnDestructor(pNode->pData);
        free(pNode->pData);
    }
    free(pNode);
    pList->iCount--;
    return next;
}

/* Erases every element, first to last. */
void CGenListClear(CGenList *pList)
{
    if (pList->pHead == NULL)
        return;
    CGenListIter it;
    CGenListIterInit(&it, pList);
    while (pList->iCount > 0 && !CGenListIterAtEnd(&it))
        it = CGenListErase(pList, it);
}

/* Erases every element; the record may be reused or discarded. */
void CGenListDestruct(CGenList *pList)
{
    CGenListClear(pList);
}

/* The count; 0 for a never-constructed record. */
int CGenListGetCount(const CGenList *pList)
{
    return pList->pHead == NULL ? 0 : pList->iCount;
}

/* First element for which fnCompare(element, pKey) answers 0, or the end. */
CGenListIter CGenListFind(CGenList *pList, CGenListCompareFn fnCompare, const void *pKey)
{
    CGenListIter it;
    CGenListIterInit(&it, pList);
    while (!CGenListIterAtEnd(&it)) {
        if (fnCompare(it.pNode->pData, pKey) == 0)
            return it;
        CGenListIterAdv(&it);
    }
    return it;
}

/* Position of the first element, or the end position of an empty list. */
void CGenListIterInit(CGenListIter *pIter, CGenList *pList)
{
    pIter->pNode = pList->pHead != NULL ? pList->pHead->pNext : NULL;
}

/* True at the tail sentinel (or for the position of an unconstructed list). */
int CGenListIterAtEnd(const CGenListIter *pIter)
{
    return pIter->pNode == NULL || pIter->pNode->pNext == NULL;
}

/* The element at the position; NULL at the end. */
void *CGenListIterGetData(const CGenListIter *pIter)
{
    return pIter->pNode != NULL ? pIter->pNode->pData : NULL;
}

/* Moves to the next node; the end stays the end. */
void CGenListIterAdv(CGenListIter *pIter)
{
    if (!CGenListIterAtEnd(pIter))
        pIter->pNode = pIter->pNode->pNext;
}

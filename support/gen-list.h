/* gen-list.h - CGenList: doubly linked list of untyped element pointers with
 * head and tail sentinels, a count and optional element ownership (an owning
 * list calls the element destructor, then frees the element, on erase). */
#ifndef ZOLT_GEN_LIST_H
#define ZOLT_GEN_LIST_H

#include <stdint.h>

/* Called with the element before an owning list frees it; must not free it. */
typedef void (*CGenListElemDestructor)(void *pElem);
/* Called as fn(element, key); 0 means a match (strcmp manner). */
typedef int (*CGenListCompareFn)(const void *pElem, const void *pKey);

typedef struct CGenListNode {
    struct CGenListNode *pPrev;
    struct CGenListNode *pNext;
    void *pData;
} CGenListNode;

/* Declared by its owner and set up by CGenListConstruct; the record must not
 * be moved or copied afterwards (the sentinels are inside it). An all-zero
 * record is a valid empty list for GetCount, IterInit, Clear and Destruct. */
typedef struct CGenList {
    CGenListNode head;   /* head sentinel: pPrev NULL, pData NULL */
    CGenListNode tail;   /* tail sentinel = end position: pNext NULL */
    CGenListNode *pHead; /* &head once constructed, NULL before */
    CGenListNode *pTail; /* &tail */
    int32_t iZeroFill;   /* 1 nodes by calloc, 0 by malloc */
    int32_t iCount;
    int32_t bOwnsElements; /* erase frees the element too */
    CGenListElemDestructor pfnDestructor;
} CGenList;

/* A position: one node pointer, passed and returned by value. */
typedef struct CGenListIter {
    CGenListNode *pNode;
} CGenListIter;

/* Results: 1 success, 0 failure. Nothing locks: the owner guards a shared list.
 *
 * Walk (and delete during a walk):
 *     CGenListIter it;
 *     CGenListIterInit(&it, &list);
 *     while (!CGenListIterAtEnd(&it)) {
 *         Thing *p = (Thing *)CGenListIterGetData(&it);
 *         if (Unwanted(p)) it = CGenListErase(&list, it);
 *         else CGenListIterAdv(&it);
 *     }
 */
int CGenListConstruct(CGenList *pList, int bOwnsElements, CGenListElemDestructor pfnDestructor);
/* As CGenListConstruct with nodes from malloc (the block-tracing registry). */
int CGenListConstructForMemTracing(CGenList *pList, int bOwnsElements,
                                   CGenListElemDestructor pfnDestructor);
/* Appends pElem (stored as given, never copied). 0 when out of memory or the
 * list was never constructed; the list is then unchanged. */
int CGenListPushBack(CGenList *pList, void *pElem);
/* Removes the element at pos (destructor + free when owning) and returns the
 * following position; the end position is returned unchanged and erases nothing. */
CGenListIter CGenListErase(CGenList *pList, CGenListIter pos);
/* Erases every element, first to last. */
void CGenListClear(CGenList *pList);
/* Same as CGenListClear; the record may then be reused or discarded. */
void CGenListDestruct(CGenList *pList);
/* The count; 0 for a never-constructed (all-zero) record. */
int CGenListGetCount(const CGenList *pList);
/* First element with fnCompare(element, pKey) == 0, or the end position. */
CGenListIter CGenListFind(CGenList *pList, CGenListCompareFn fnCompare, const void *pKey);

/* Sets *pIter to the first element (the end position when empty). */
void CGenListIterInit(CGenListIter *pIter, CGenList *pList);
/* Non-zero at the end (tail sentinel, or a position of an unconstructed list). */
int CGenListIterAtEnd(const CGenListIter *pIter);
/* The element at the position, NULL at the end. */
void *CGenListIterGetData(const CGenListIter *pIter);
/* Moves to the next node; stays at the end. */
void CGenListIterAdv(CGenListIter *pIter);

#endif /* ZOLT_GEN_LIST_H */

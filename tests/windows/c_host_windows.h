/* SPDX-License-Identifier: MIT */
/*
 * Scaffolding shared by the Windows test hosts in plain C, beside the
 * portable part (c_host.h): the host's floating-point control and the
 * host's menu items.
 */
#ifndef VU30_TESTS_C_HOST_WINDOWS_H
#define VU30_TESTS_C_HOST_WINDOWS_H

#include <windows.h>

#include "../support/c_host.h"

/* ------------------------------------------------------------------------ */
/* Floating-point control, as the host sets it.                              */

static inline unsigned short ReadX87Control(void) {
  unsigned short value;
  __asm__ __volatile__("fnstcw %0" : "=m"(value));
  return value;
}
static inline void WriteX87Control(unsigned short value) {
  __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(value));
}
static inline unsigned ReadMxcsr(void) {
  unsigned value;
  __asm__ __volatile__("stmxcsr %0" : "=m"(value));
  return value;
}
static inline void WriteMxcsr(unsigned value) { __asm__ __volatile__("ldmxcsr %0" : : "m"(value)); }

/* ------------------------------------------------------------------------ */
/* The host's menu items: a parent holding one item, the station's "&ТРК",
 * and the item the host's CreateItem hands out.                             */

typedef struct Item {
  Vu30MenuItem base;
  const char* caption;
  char set[96];
  Vu30BoundMethod onClick;
} Item;

static Item gParent, gTrk, gCreated;

static inline int32_t VU30_CALL ItemCount(Vu30MenuItem* self) {
  return self == &gParent.base ? 1 : 0;
}
static inline Vu30MenuItem* VU30_CALL ItemAt(Vu30MenuItem* self, int32_t index) {
  (void)self;
  (void)index;
  return &gTrk.base;
}
static inline const char* VU30_CALL ItemCaption(Vu30MenuItem* self) {
  return ((Item*)self)->caption;
}
static inline void VU30_CALL ItemSetCaption(Vu30MenuItem* self, const char* caption) {
  lstrcpynA(((Item*)self)->set, caption, sizeof((Item*)self)->set);
}
static inline void VU30_CALL ItemSetHint(Vu30MenuItem* self, const char* hint) {
  (void)self;
  (void)hint;
}
static inline void VU30_CALL ItemSetInt(Vu30MenuItem* self, int32_t value) {
  (void)self;
  (void)value;
}
static inline void VU30_CALL ItemSetOnClick(Vu30MenuItem* self, Vu30BoundMethod handler) {
  ((Item*)self)->onClick = handler;
}
static const Vu30MenuItemTable kItemTable = {ItemCount,   ItemAt,     ItemCaption, ItemSetCaption,
                                             ItemSetHint, ItemSetInt, ItemSetInt,  ItemSetOnClick};

static inline void CHostMenuItems(void) {
  gParent.base.table = &kItemTable;
  gTrk.base.table = &kItemTable;
  gTrk.caption = "\x26\xD2\xD0\xCA"; /* "&ТРК" in code page 1251 */
  gCreated.base.table = &kItemTable;
}

#endif

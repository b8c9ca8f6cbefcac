/* SPDX-License-Identifier: MIT */
/* A source the drifted page below quotes. */
int Sale(int litres) {
  /* [snippet:sale] */
  int money = litres * 52;
  return money;
  /* [/snippet] */
}

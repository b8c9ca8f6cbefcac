/* SPDX-License-Identifier: MIT */
// The fixed texts of the driver, in code page 1251 as they cross the host
// boundary. The readable form stands beside each.
#pragma once

namespace vu30::driver::messages {

// "Невозможно выполнить установку цены"
inline constexpr const char* kSetPriceFailed =
    "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xE2\xFB\xEF\xEE\xEB\xED\xE8\xF2\xFC "
    "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xF3 \xF6\xE5\xED\xFB";
inline constexpr const char* kStartFailed = "Can't START POMP";
inline constexpr const char* kStopFailed = "Can't STOP POMP";
// "Ошибка при опросе данных отлива"
inline constexpr const char* kPollFailed =
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xE8 \xEE\xEF\xF0\xEE\xF1\xE5 \xE4\xE0\xED\xED\xFB\xF5 "
    "\xEE\xF2\xEB\xE8\xE2\xE0";
// "Ошибка при запросе итоговых данных отлива"
inline constexpr const char* kFinalFailed =
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xE8 \xE7\xE0\xEF\xF0\xEE\xF1\xE5 "
    "\xE8\xF2\xEE\xE3\xEE\xE2\xFB\xF5 \xE4\xE0\xED\xED\xFB\xF5 \xEE\xF2\xEB\xE8\xE2\xE0";
// "Невозможно выполнить запрос счетчиков"
inline constexpr const char* kCounterFailed =
    "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xE2\xFB\xEF\xEE\xEB\xED\xE8\xF2\xFC "
    "\xE7\xE0\xEF\xF0\xEE\xF1 \xF1\xF7\xE5\xF2\xF7\xE8\xEA\xEE\xE2";
inline constexpr const char* kStateFailed = "Can't GetSost";
inline constexpr const char* kAbstract = "Abstract error";

// The identity block: the length byte 31, then "v2.41#Протокол к ТРК Trovelheim".
inline constexpr char kDriverInfo[33] =
    "\x1F"
    "v2.41#\xCF\xF0\xEE\xF2\xEE\xEA\xEE\xEB \xEA \xD2\xD0\xCA Trovelheim";
static_assert(sizeof kDriverInfo == 33, "a length byte, 31 characters and the terminator");

}  // namespace vu30::driver::messages

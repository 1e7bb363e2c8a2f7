#pragma once

#include <cstddef>
#include <cstdint>

// The record handed to the host every round (code 5032) and handed back from
// its cache: 15 bytes, no padding, little-endian.
#pragma pack(push, 1)
struct AIKorvane_Data_t {
  uint32_t data_id;
  float voltage;
  uint16_t year;
  uint8_t month;
  uint8_t day;
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
};
#pragma pack(pop)

static_assert(sizeof(AIKorvane_Data_t) == 15, "record must be exactly 15 bytes");
static_assert(offsetof(AIKorvane_Data_t, data_id) == 0);
static_assert(offsetof(AIKorvane_Data_t, voltage) == 4);
static_assert(offsetof(AIKorvane_Data_t, year) == 8);
static_assert(offsetof(AIKorvane_Data_t, month) == 10);
static_assert(offsetof(AIKorvane_Data_t, day) == 11);
static_assert(offsetof(AIKorvane_Data_t, hour) == 12);
static_assert(offsetof(AIKorvane_Data_t, minute) == 13);
static_assert(offsetof(AIKorvane_Data_t, second) == 14);

#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/Data.h"

namespace xr {

// One event of the serial data log: bytes read or written, stamped with the up-time and the
// wall-clock date.
class DataHandlerLogEntry {
 public:
  using Date = std::chrono::system_clock::time_point;

  static std::shared_ptr<DataHandlerLogEntry> logEntryWithData(const Data& data);
  // initWithData: stamped now.
  explicit DataHandlerLogEntry(const Data& data);
  DataHandlerLogEntry(float upTimeStamp, Date dateTimeStamp, Data data);

  // "12.345 : <4f4b>"
  std::string hexDescriptionWithUpTime() const;
  // "2024-05-01 10:20:30 +0000 : <4f4b>"
  std::string hexDescriptionWithDate() const;
  // "12.345 : OK"
  std::string stringDescriptionWithUpTime() const;
  std::string stringDescriptionWithDate() const;

  // Up-time seconds with three decimals, and a date's text form (UTC).
  static std::string upTimeText(float seconds);
  static std::string dateText(Date date);

  float logUpTimeStamp;
  Date logDateTimeStamp;
  Data logData;
};

}  // namespace xr

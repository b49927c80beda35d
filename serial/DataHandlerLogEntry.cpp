#include "serial/DataHandlerLogEntry.h"

#include <time.h>

#include <cstdio>

#include "serial/TimeMaster.h"

namespace xr {

std::shared_ptr<DataHandlerLogEntry> DataHandlerLogEntry::logEntryWithData(const Data& data) {
  return std::make_shared<DataHandlerLogEntry>(data);
}

DataHandlerLogEntry::DataHandlerLogEntry(const Data& data)
    : DataHandlerLogEntry(static_cast<float>(TimeMaster::systemTimeInMilliseconds() / 1000.0),
                          std::chrono::system_clock::now(), data) {}

DataHandlerLogEntry::DataHandlerLogEntry(float upTimeStamp, Date dateTimeStamp, Data data)
    : logUpTimeStamp(upTimeStamp), logDateTimeStamp(dateTimeStamp), logData(std::move(data)) {}

std::string DataHandlerLogEntry::upTimeText(float seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(seconds));
  return text;
}

std::string DataHandlerLogEntry::dateText(Date date) {
  const time_t t = std::chrono::system_clock::to_time_t(date);
  struct tm utc{};
  gmtime_r(&t, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
  return text;
}

std::string DataHandlerLogEntry::hexDescriptionWithUpTime() const {
  return upTimeText(logUpTimeStamp) + " : " + logData.description();
}

std::string DataHandlerLogEntry::hexDescriptionWithDate() const {
  return dateText(logDateTimeStamp) + " : " + logData.description();
}

std::string DataHandlerLogEntry::stringDescriptionWithUpTime() const {
  return upTimeText(logUpTimeStamp) + " : " + logData.asString();
}

std::string DataHandlerLogEntry::stringDescriptionWithDate() const {
  return dateText(logDateTimeStamp) + " : " + logData.asString();
}

}  // namespace xr

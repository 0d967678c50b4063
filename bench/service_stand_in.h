// Stands in for the profile service's kernel32 functions while it lives, answering
// from memory: a string read copies a given value, a whole-section read a given entry
// list, a whole-section write succeeds without touching a file; everything else goes
// to the platform. What is left to time is the object's own work around the service.
#pragma once

#include <string>

namespace bench {

struct StandInAnswers {
  std::string value;        // what every string read returns
  std::string sectionList;  // what every whole-section read returns ("k=v\0...\0\0")
};

class ServiceStandIn {
 public:
  explicit ServiceStandIn(const StandInAnswers& answers);  // kept by reference
  ~ServiceStandIn();
  ServiceStandIn(const ServiceStandIn&) = delete;
  ServiceStandIn& operator=(const ServiceStandIn&) = delete;
};

}  // namespace bench

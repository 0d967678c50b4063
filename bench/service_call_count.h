// Counts the calls that reach the profile service, by putting counting wrappers in
// place of its kernel32 functions for the life of the counter. Each wrapper forwards
// to the platform's function. Measured runs do not count: the wrappers cost time.
#pragma once

#include <string>

namespace bench {

struct ServiceCalls {
  int getString = 0;
  int getSection = 0;
  int getSectionNames = 0;
  int writeString = 0;
  int writeSection = 0;

  int Total() const { return getString + getSection + getSectionNames + writeString + writeSection; }
  std::string Breakdown() const;
};

class ServiceCallCounter {
 public:
  ServiceCallCounter();  // starts from zero
  ~ServiceCallCounter();
  ServiceCallCounter(const ServiceCallCounter&) = delete;
  ServiceCallCounter& operator=(const ServiceCallCounter&) = delete;

  const ServiceCalls& Calls() const;
};

}  // namespace bench

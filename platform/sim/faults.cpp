// Call accounting, injected faults and the record of misuses.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "sim_internal.h"

namespace sim {
namespace {

struct CallFault {
  std::string operation;
  unsigned nth;  // 0: every call
  DWORD error;
};

struct TransferRule {
  bool write;
  std::string file_key;  // empty: any file
  unsigned nth;
  DWORD bytes;
  unsigned seen;
};

struct Faults {
  std::map<std::string, unsigned> calls;
  std::map<std::string, std::vector<uint64_t>> call_times;
  std::vector<CallFault> call_faults;
  std::vector<TransferRule> transfer_rules;
  std::vector<unsigned> cancel_checks;
  unsigned event_waits = 0;
  std::vector<std::string> misuses;
};

Faults faults;

std::string file_key_of(const std::string& path) { return path.empty() ? path : detail::file_key(path); }

}  // namespace

void fail_call(const std::string& operation, unsigned nth, DWORD last_error) {
  if (nth == 0) detail::unmodelled("fail_call counts calls from 1");
  faults.call_faults.push_back({operation, nth, last_error});
}

void fail_every_call(const std::string& operation, DWORD last_error) {
  faults.call_faults.push_back({operation, 0, last_error});
}

void fail_local_alloc(unsigned nth) { fail_call("LocalAlloc", nth, ERROR_NOT_ENOUGH_MEMORY); }

void short_write(const std::string& path, unsigned nth, unsigned bytes) {
  faults.transfer_rules.push_back({true, file_key_of(path), nth, bytes, 0});
}

void short_read(const std::string& path, unsigned nth, unsigned bytes) {
  faults.transfer_rules.push_back({false, file_key_of(path), nth, bytes, 0});
}

void cancel_at_check(unsigned nth) { faults.cancel_checks.push_back(nth); }

unsigned call_count(const std::string& operation) {
  const auto found = faults.calls.find(operation);
  return found == faults.calls.end() ? 0 : found->second;
}

std::vector<uint64_t> call_times(const std::string& operation) {
  const auto found = faults.call_times.find(operation);
  return found == faults.call_times.end() ? std::vector<uint64_t>{} : found->second;
}

const std::vector<std::string>& misuses() { return faults.misuses; }

namespace detail {

bool injected_failure(const char* operation) {
  const unsigned count = ++faults.calls[operation];
  faults.call_times[operation].push_back(now_ms());
  for (const CallFault& fault : faults.call_faults) {
    if (fault.operation == operation && (fault.nth == 0 || fault.nth == count)) {
      set_error(fault.error);
      return true;
    }
  }
  return false;
}

void count_call(const char* operation) {
  ++faults.calls[operation];
  faults.call_times[operation].push_back(now_ms());
}

DWORD allowed_transfer(bool write, const std::string& file_key, DWORD requested) {
  DWORD allowed = requested;
  for (TransferRule& rule : faults.transfer_rules) {
    if (rule.write != write || (!rule.file_key.empty() && rule.file_key != file_key)) continue;
    if (++rule.seen == rule.nth && rule.bytes < allowed) allowed = rule.bytes;
  }
  return allowed;
}

bool cancel_due_at_this_wait() {
  ++faults.event_waits;
  for (unsigned nth : faults.cancel_checks) {
    if (nth == faults.event_waits) return true;
  }
  return false;
}

void unmodelled(const std::string& what) {
  std::fprintf(stderr, "simulated Windows: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void note_misuse(const std::string& what) { faults.misuses.push_back(what); }

void reset_faults() { faults = Faults(); }

}  // namespace detail

}  // namespace sim

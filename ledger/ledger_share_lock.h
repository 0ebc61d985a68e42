// Every program that has a ledger open holds a shared lock on its file (a
// flock, apart from SQLite's own locks), so that a damaged ledger is moved
// aside only while no other program has it open.
#pragma once

#include <string>

class LedgerShareLock {
 public:
  LedgerShareLock() = default;
  ~LedgerShareLock();
  LedgerShareLock(const LedgerShareLock&) = delete;
  LedgerShareLock& operator=(const LedgerShareLock&) = delete;

  // Shared, on the file now at path (waiting out a move aside under way,
  // which holds it for a moment only). False when the file cannot be opened.
  bool TakeShared(const std::string& path);
  // Exclusive, without waiting: false while another program holds it.
  bool TakeExclusive(const std::string& path);
  void Release();

 private:
  bool Take(const std::string& path, int operation);
  int fd_ = -1;
};

// Exceptions of the system's own code. A CExc is created with new, thrown as
// a pointer, and deleted by whoever catches it.
#pragma once

#include <string>

class CExc {
 public:
  CExc(const char* pszSource, const char* pszMessage);
  virtual ~CExc();
  virtual const char* Source() const;
  virtual const char* Message() const;
  virtual const char* Text() const;
  virtual int Code() const;

  CExc(const CExc&) = delete;
  CExc& operator=(const CExc&) = delete;

 private:
  std::string m_sSource;
  std::string m_sMessage;
  int m_nCode;
};

// Thrown by value when a printer list file cannot be opened.
class BadIniFile {};

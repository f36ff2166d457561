#include "service_core/exc.h"

CExc::CExc(const char* pszSource, const char* pszMessage)
    : m_sSource(pszSource), m_sMessage(pszMessage), m_nCode(0) {}

CExc::~CExc() = default;
const char* CExc::Source() const { return m_sSource.c_str(); }
const char* CExc::Message() const { return m_sMessage.c_str(); }
const char* CExc::Text() const { return Message(); }
int CExc::Code() const { return m_nCode; }

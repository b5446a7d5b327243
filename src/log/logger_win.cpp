#include "log/logger_win.h"

#include "log/log.h"

Logger::Logger() : header_(u"\r\n<< Corvane (x86) Log >>\r\n") {}
Logger::~Logger() {}
void Logger::SetLogFile(const WString& path) { path_ = path; }
void Logger::WriteLine(const WString&) {}
void Logger::Close() {}
WString Logger::Path() { return path_; }

static Logger g_logger;

Logger& TheLogger() { return g_logger; }

void LogLine(const WString& text) { TheLogger().WriteLine(text); }

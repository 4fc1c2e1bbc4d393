#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log/LogSink.h"

namespace platform {

// syslog priority of a level: debug 7, info 6, notice 5, error 3, fault 2.
int journalPriority(LogLevel level);

// The journal fields of one entry, as "NAME=value" texts: MESSAGE, PRIORITY,
// SUBSYSTEM, CATEGORY and, when given, SYSLOG_IDENTIFIER.
std::vector<std::string> journalFields(const LogRecord& record, std::string_view syslogIdentifier);

// Sends each entry to the systemd journal with sd_journal_sendv. A journal
// that cannot be reached loses the entry silently: logging never fails.
class JournalSink : public LogSink {
public:
    // Receives the fields of one entry; returns 0 or a negative errno.
    using Sender = std::function<int(const std::vector<std::string>& fields)>;

    // The identifier is the program's short name.
    JournalSink();
    // A custom sender replaces the journal (tests inspect what would be sent).
    explicit JournalSink(std::string syslogIdentifier, Sender sender = {});

    void write(const LogRecord& record) override;

    static int sendToJournal(const std::vector<std::string>& fields);

private:
    std::string identifier_;
    Sender sender_;
};

}  // namespace platform

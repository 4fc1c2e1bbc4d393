#include "platform/log/JournalSink.h"

#include <cerrno>
#include <sys/uio.h>

#include <fmt/core.h>
#include <systemd/sd-journal.h>

namespace platform {

int journalPriority(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return 7;   // LOG_DEBUG
        case LogLevel::info: return 6;    // LOG_INFO
        case LogLevel::notice: return 5;  // LOG_NOTICE
        case LogLevel::error: return 3;   // LOG_ERR
        case LogLevel::fault: return 2;   // LOG_CRIT
    }
    return 6;
}

std::vector<std::string> journalFields(const LogRecord& record, std::string_view syslogIdentifier) {
    std::vector<std::string> fields;
    fields.reserve(5);
    fields.push_back(fmt::format("MESSAGE={}", record.message));
    fields.push_back(fmt::format("PRIORITY={}", journalPriority(record.level)));
    fields.push_back(fmt::format("SUBSYSTEM={}", record.subsystem));
    fields.push_back(fmt::format("CATEGORY={}", record.category));
    if (!syslogIdentifier.empty()) fields.push_back(fmt::format("SYSLOG_IDENTIFIER={}", syslogIdentifier));
    return fields;
}

JournalSink::JournalSink() : JournalSink(program_invocation_short_name ? program_invocation_short_name : "") {}

JournalSink::JournalSink(std::string syslogIdentifier, Sender sender)
    : identifier_(std::move(syslogIdentifier)), sender_(std::move(sender)) {}

void JournalSink::write(const LogRecord& record) {
    auto fields = journalFields(record, identifier_);
    if (sender_)
        sender_(fields);
    else
        sendToJournal(fields);
}

int JournalSink::sendToJournal(const std::vector<std::string>& fields) {
    // sd_journal_sendv copes with new lines inside values (binary-safe form).
    std::vector<iovec> iov(fields.size());
    for (size_t i = 0; i < fields.size(); ++i)
        iov[i] = iovec{const_cast<char*>(fields[i].data()), fields[i].size()};
    return sd_journal_sendv(iov.data(), static_cast<int>(iov.size()));
}

}  // namespace platform

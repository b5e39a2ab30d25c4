// What every command of the command-line tool shares: the option reader and the stop signals.
#include "cli/CliCommon.h"

#include "platform/Workers.h"
#include "wipe/funkcije_u.h"

#include <atomic>
#include <csignal>

namespace
{
std::atomic<int> g_stopSignal{0};
std::atomic<bool> g_cancelWipes{false};

#ifdef SIGHUP
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
#else
constexpr int kStopSignals[] = {SIGINT, SIGTERM};
#endif

extern "C" void OnStopSignal(int signal)
{
    int none = 0;
    g_stopSignal.compare_exchange_strong(none, signal);
    if (g_cancelWipes) {
        ShredCancelled = true;
    }
#ifdef _WIN32
    // The C runtime on Windows resets the handler before calling it.
    std::signal(signal, OnStopSignal);
#endif
}
} // namespace

unsigned ParseJobs(const std::string& value)
{
    // More workers than this only add threads waiting on the same disk.
    constexpr unsigned long kMostJobs = 1024;
    if (value.empty() || value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(value) > kMostJobs) {
        throw EUsage("-j takes a number of files to work on at once, 0 to " + std::to_string(kMostJobs) +
                     " (0: one per core), not '" + value + "'");
    }
    return WorkerCount(static_cast<unsigned>(std::stoul(value)));
}

int StopSignal()
{
    return g_stopSignal;
}

TStopSignals::TStopSignals(bool cancelWipes)
{
    g_stopSignal = 0;
    g_cancelWipes = cancelWipes;
    for (const int signal : kStopSignals) {
        std::signal(signal, OnStopSignal);
    }
}

TStopSignals::~TStopSignals()
{
    for (const int signal : kStopSignals) {
        std::signal(signal, SIG_DFL);
    }
    g_cancelWipes = false;
}

std::optional<std::string> TArgReader::NextOption()
{
    if (m_inlineValue) {
        throw EUsage("option '" + m_option + "' takes no value");
    }
    if (!m_shortFlags.empty()) {
        m_option = std::string("-") + m_shortFlags[0];
        m_shortFlags.erase(0, 1);
        return m_option;
    }
    while (m_next < m_args.size()) {
        const std::string& word = m_args[m_next++];
        if (m_operandsOnly || word.size() < 2 || word[0] != '-') {
            m_operands.push_back(word);
            continue;
        }
        if (word == "--") {
            m_operandsOnly = true;
            continue;
        }
        if (word[1] == '-') {
            const std::size_t eq = word.find('=');
            m_option = word.substr(0, eq);
            if (eq != std::string::npos) {
                m_inlineValue = word.substr(eq + 1);
            }
            return m_option;
        }
        m_option = word.substr(0, 2);
        m_shortFlags = word.substr(2);
        return m_option;
    }
    return std::nullopt;
}

std::string TArgReader::Value(const std::string& option)
{
    if (m_inlineValue) {
        std::string value = std::move(*m_inlineValue);
        m_inlineValue.reset();
        return value;
    }
    if (!m_shortFlags.empty()) {
        std::string value = std::move(m_shortFlags);
        m_shortFlags.clear();
        return value;
    }
    if (m_next >= m_args.size()) {
        throw EUsage("option '" + option + "' needs a value");
    }
    return m_args[m_next++];
}

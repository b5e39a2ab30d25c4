// What a run shows on the terminal: the progress line's layout, the words of the end-of-run summary,
// and the run view that turns a run's calls into both.
#include "cli/Progress.h"

#include "platform/Files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#ifndef VX_NO_UTF8PROC
#include <utf8proc.h>
#endif

namespace {
// One character as the terminal shows it: its bytes (combining marks joined to the character
// before them) and its columns.
struct TGlyph
{
    std::string Bytes;
    int Columns = 1;
};

// The code point at text[i], advancing i; -1 for a byte that starts no valid UTF-8 sequence.
std::int32_t NextCodePoint(std::string_view text, std::size_t& i)
{
    const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char first = byte(i);
    if (first < 0x80) {
        ++i;
        return first;
    }
    int length = 0;
    std::int32_t value = 0;
    std::int32_t least = 0;
    if ((first & 0xE0) == 0xC0) {
        length = 2;
        value = first & 0x1F;
        least = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        value = first & 0x0F;
        least = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        value = first & 0x07;
        least = 0x10000;
    } else {
        ++i;
        return -1;
    }
    if (i + static_cast<std::size_t>(length) > text.size()) {
        ++i;
        return -1;
    }
    for (int k = 1; k < length; ++k) {
        const unsigned char next = byte(i + static_cast<std::size_t>(k));
        if ((next & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are no characters.
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++i;
        return -1;
    }
    i += static_cast<std::size_t>(length);
    return value;
}

// Characters a terminal acts on rather than shows, and those that reorder what follows them.
bool ActsOnTerminal(std::int32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x200E || c == 0x200F || c == 0x2028 || c == 0x2029;
}

int CharColumns(std::int32_t c)
{
#ifndef VX_NO_UTF8PROC
    return std::max(0, utf8proc_charwidth(c));
#else
    // Without utf8proc: the wide blocks of East Asian scripts and emoji, and the common combining
    // marks. Erring on the wide side only leaves a column unused.
    static constexpr std::int32_t kWide[][2] = {
        {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x25FD, 0x25FE},
        {0x2614, 0x2615},   {0x2648, 0x2653},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},
        {0x26C4, 0x26C5},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F5},   {0x26FA, 0x26FD},
        {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},   {0x274C, 0x274C},   {0x2753, 0x2757},
        {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B55},
        {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
        {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
        {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004},
        {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F64F}, {0x1F680, 0x1F6FF},
        {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x3FFFD},
    };
    static constexpr std::int32_t kZero[][2] = {
        {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
        {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
        {0x200B, 0x200D}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xE0100, 0xE01EF},
    };
    for (const auto& range : kZero) {
        if (c >= range[0] && c <= range[1]) {
            return 0;
        }
    }
    for (const auto& range : kWide) {
        if (c >= range[0] && c <= range[1]) {
            return 2;
        }
    }
    return 1;
#endif
}

std::vector<TGlyph> Glyphs(std::string_view utf8)
{
    std::vector<TGlyph> glyphs;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t start = i;
        const std::int32_t c = NextCodePoint(utf8, i);
        if (c < 0 || ActsOnTerminal(c)) {
            glyphs.push_back({"?", 1});
            continue;
        }
        const int columns = CharColumns(c);
        const std::string_view bytes = utf8.substr(start, i - start);
        if (columns == 0 && !glyphs.empty()) {
            glyphs.back().Bytes += bytes;
        } else {
            glyphs.push_back({std::string(bytes), columns});
        }
    }
    return glyphs;
}

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";

std::string Repeat(std::string_view text, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += text;
    }
    return out;
}

std::string PadRight(std::string text, int columns)
{
    const int used = DisplayColumns(text);
    return used < columns ? text + std::string(static_cast<std::size_t>(columns - used), ' ') : text;
}

std::string PadLeft(std::string text, int columns)
{
    const int used = DisplayColumns(text);
    return used < columns ? std::string(static_cast<std::size_t>(columns - used), ' ') + text : text;
}

int Digits(std::uint64_t value)
{
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

std::string Printed(const char* format, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}
} // namespace

int DisplayColumns(std::string_view utf8)
{
    int columns = 0;
    for (const TGlyph& glyph : Glyphs(utf8)) {
        columns += glyph.Columns;
    }
    return columns;
}

std::string TerminalSafe(std::string_view utf8)
{
    std::string out;
    for (const TGlyph& glyph : Glyphs(utf8)) {
        out += glyph.Bytes;
    }
    return out;
}

std::string ShortenMiddle(std::string_view utf8, int columns)
{
    const std::vector<TGlyph> glyphs = Glyphs(utf8);
    int total = 0;
    for (const TGlyph& glyph : glyphs) {
        total += glyph.Columns;
    }
    std::string out;
    if (total <= columns) {
        for (const TGlyph& glyph : glyphs) {
            out += glyph.Bytes;
        }
        return out;
    }
    if (columns <= 0) {
        return out;
    }
    // The end carries the extension, so it gets the larger half.
    const int room = columns - 1;
    const int tailRoom = room - room / 2;
    int headRoom = room / 2;
    std::size_t tailStart = glyphs.size();
    int tailUsed = 0;
    while (tailStart > 0 && tailUsed + glyphs[tailStart - 1].Columns <= tailRoom) {
        tailUsed += glyphs[--tailStart].Columns;
    }
    // A wide character that did not fit at the end leaves its column to the beginning.
    headRoom += tailRoom - tailUsed;
    int headUsed = 0;
    for (std::size_t i = 0; i < tailStart && headUsed + glyphs[i].Columns <= headRoom; ++i) {
        out += glyphs[i].Bytes;
        headUsed += glyphs[i].Columns;
    }
    out += kEllipsis;
    for (std::size_t i = tailStart; i < glyphs.size(); ++i) {
        out += glyphs[i].Bytes;
    }
    return out;
}

std::string ProgressLineText(const TProgressState& state, int columns)
{
    const std::uint64_t done = std::min(state.DoneBytes, state.TotalBytes);
    const double fraction = state.TotalBytes == 0 ? (state.Files != 0 && state.FilesDone >= state.Files ? 1.0 : 0.0)
                                                  : static_cast<double>(done) / static_cast<double>(state.TotalBytes);
    const std::string percent = PadLeft(std::to_string(static_cast<int>(fraction * 100)) + "%", 4);

    // Slots of a width fixed for the whole run, so that nothing moves as the files go by.
    constexpr int kStageWidth = 10;
    constexpr int kRateWidth = 10;
    constexpr int kNameMinimum = 10;
    const int countWidth = state.Files > 0 ? 2 * Digits(state.Files) + 1 : 0;
    const int barInner = std::clamp(columns / 4, 10, 30);
    bool withStage = !state.Stage.empty();
    bool withCount = countWidth > 0;
    bool withBar = true;
    bool withRate = true;
    const auto fixedWidth = [&] {
        int width = 4;
        width += withStage ? kStageWidth + 1 : 0;
        width += withCount ? countWidth + 1 : 0;
        width += withBar ? barInner + 3 : 0;
        width += withRate ? kRateWidth + 1 : 0;
        return width;
    };
    for (bool* part : {&withRate, &withCount, &withBar, &withStage}) {
        if (fixedWidth() + 1 + kNameMinimum <= columns) {
            break;
        }
        *part = false;
    }

    std::string line;
    if (withStage) {
        line += PadRight(ShortenMiddle(state.Stage, kStageWidth), kStageWidth) + ' ';
    }
    if (withCount) {
        line += PadLeft(std::to_string(std::min(state.FilesDone, state.Files)) + "/" + std::to_string(state.Files),
                        countWidth) +
                ' ';
    }
    if (withBar) {
        const int filled = static_cast<int>(fraction * barInner);
        line += "[" + Repeat("#", filled) + Repeat(".", barInner - filled) + "] ";
    }
    line += percent;
    if (withRate) {
        const std::string rate =
            state.BytesPerSecond > 0 ? SizeText(static_cast<std::uint64_t>(state.BytesPerSecond)) + "/s" : "";
        line += ' ' + PadLeft(rate, kRateWidth);
    }
    const int nameRoom = columns - fixedWidth() - 1;
    if (nameRoom >= 4 && !state.Name.empty()) {
        line += ' ' + ShortenMiddle(state.Name, nameRoom);
    }
    // Narrower than the smallest layout: what fits of it.
    return DisplayColumns(line) <= columns ? line : ShortenMiddle(percent, columns);
}

std::string GroupedNumber(std::uint64_t value)
{
    // Built forwards rather than by inserting into the digits, which one cross compiler takes for
    // an overlapping copy.
    const std::string digits = std::to_string(value);
    std::string grouped;
    grouped.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

std::string SizeText(std::uint64_t bytes)
{
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000;
    std::size_t unit = 0;
    for (;;) {
        // Rounded as it will be printed: 999.7 kB shows as 1.00 MB, not as 1000 kB.
        const double shown = value < 9.995   ? std::round(value * 100) / 100
                             : value < 99.95 ? std::round(value * 10) / 10
                                             : std::round(value);
        if (shown < 1000 || unit + 1 == std::size(kUnits)) {
            const char* format = shown < 10 ? "%.2f " : shown < 100 ? "%.1f " : "%.0f ";
            return Printed(format, shown) + kUnits[unit];
        }
        value /= 1000;
        ++unit;
    }
}

std::string DurationText(double seconds)
{
    seconds = std::max(0.0, seconds);
    if (std::round(seconds * 10) < 600) {
        return Printed("%.1f s", seconds);
    }
    const auto whole = static_cast<std::uint64_t>(std::llround(seconds));
    char text[48];
    if (whole < 3600) {
        std::snprintf(text, sizeof text, "%u:%02u min", static_cast<unsigned>(whole / 60),
                      static_cast<unsigned>(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02u:%02u h", static_cast<unsigned long long>(whole / 3600),
                      static_cast<unsigned>(whole / 60 % 60), static_cast<unsigned>(whole % 60));
    }
    return text;
}

std::string FilesText(std::uint64_t count)
{
    return GroupedNumber(count) + (count == 1 ? " file" : " files");
}

std::string SummaryText(const TRunSummary& summary)
{
    std::string text = summary.Done + ' ' + FilesText(summary.Files);
    if (summary.Files > 0) {
        text += " (" + SizeText(summary.Bytes) + ")";
    }
    text += " in " + DurationText(summary.Seconds) + '\n';
    for (const auto& [reason, count] : summary.Skipped) {
        if (count > 0) {
            text += GroupedNumber(count) + " skipped: " + reason + '\n';
        }
    }
    return text;
}

TCliRunView::TCliRunView(TProgressSink& sink, bool encrypting, std::map<std::string, std::uint64_t> sizes, bool verbose)
    : m_sink(sink), m_encrypting(encrypting), m_verbose(verbose), m_sizes(std::move(sizes)),
      m_start(std::chrono::steady_clock::now())
{
    for (const auto& [path, size] : m_sizes) {
        m_totalBytes += size;
    }
}

TCliRunView::TFileState* TCliRunView::Current()
{
    const auto it = m_inHand.find(std::this_thread::get_id());
    return it == m_inHand.end() ? nullptr : &it->second;
}

void TCliRunView::CurrentLabel(const std::string& text)
{
    const std::lock_guard lock(m_mutex);
    const std::string begun = m_encrypting ? "Encrypting: " : "Decrypting: ";
    if (text.rfind(begun, 0) == 0) {
        TFileState& file = m_inHand[std::this_thread::get_id()];
        file = TFileState{};
        file.Name = text.substr(begun.size());
        m_shown = std::this_thread::get_id();
        Draw();
    } else if (text.rfind("Shredding: ", 0) == 0) {
        if (TFileState* file = Current()) {
            file->Stage = TStage::Wiping;
            Draw();
        }
    }
}

void TCliRunView::TotalBar(std::int64_t position, std::int64_t maximum)
{
    const std::lock_guard lock(m_mutex);
    m_files = static_cast<std::uint64_t>(std::max<std::int64_t>(maximum, 0));
    if (position <= 0) {
        return;
    }
    const auto index = static_cast<std::size_t>(position - 1);
    if (!m_workList.empty()) {
        // The end of the run sets the bar to its end once more: a file is counted once.
        if (index >= m_workList.size() || index < m_listCounted) {
            return;
        }
        m_listCounted = index + 1;
        // The file done is the list's; whatever thread held it, nothing of it stays in hand.
        const std::string& path = m_workList[index];
        const auto size = m_sizes.find(path);
        const std::uint64_t bytes = size == m_sizes.end() ? 0 : size->second;
        m_finishedBytes += bytes;
        ++m_filesDone;
        if (m_skippedPaths.count(path) == 0) {
            ++m_filesProcessed;
            m_bytesProcessed += bytes;
        }
        std::erase_if(m_inHand, [&](const auto& held) {
            return held.first == std::this_thread::get_id() || held.second.Name == NameOfPath(path);
        });
        Draw();
        return;
    }
    // A file is done (or passed over): its bytes move from the file in hand to the finished ones.
    const auto it = m_inHand.find(std::this_thread::get_id());
    if (it == m_inHand.end()) {
        return;
    }
    const TFileState& file = it->second;
    m_finishedBytes += file.Size;
    ++m_filesDone;
    if (!file.Skipped) {
        ++m_filesProcessed;
        m_bytesProcessed += file.Size;
    }
    m_inHand.erase(it);
    Draw();
}

void TCliRunView::CurrentBar(std::int64_t position, std::int64_t maximum)
{
    const std::lock_guard lock(m_mutex);
    TFileState* file = Current();
    if (file == nullptr || maximum < 0) {
        return;
    }
    const auto max = static_cast<std::uint64_t>(maximum);
    if (!file->Sized) {
        // The first bar of a file is its size; the cipher's progress then counts its bytes.
        file->Size = max;
        file->Sized = true;
    } else if (max != file->Size && file->Stage != TStage::Wiping) {
        // A bar of another length is the wipe of the source (its passes), which follows the cipher.
        file->Stage = TStage::Wiping;
        file->Position = file->Size;
    }
    if (file->Stage == TStage::Ciphering) {
        file->Position = std::min(static_cast<std::uint64_t>(std::max<std::int64_t>(position, 0)), file->Size);
    }
    Draw();
}

void TCliRunView::VerifyingFile(const std::string& path)
{
    (void)path;
    const std::lock_guard lock(m_mutex);
    if (TFileState* file = Current()) {
        file->Stage = TStage::Verifying;
        file->Position = file->Size;
        Draw();
    }
}

void TCliRunView::SetWorkList(std::vector<std::string> paths)
{
    const std::lock_guard lock(m_mutex);
    m_workList = std::move(paths);
}

void TCliRunView::FileSkipped(const std::string& path, const std::string& reason)
{
    const std::lock_guard lock(m_mutex);
    m_skippedPaths.insert(path);
    if (TFileState* file = Current()) {
        file->Skipped = true;
        // Passed over before its bar was set: it still counts towards the overall bar.
        if (!file->Sized) {
            const auto size = m_sizes.find(path);
            file->Size = size == m_sizes.end() ? 0 : size->second;
            file->Sized = true;
        }
    }
    // In a mixed tree most files are expected to be passed over this way; they show in the
    // summary's counts.
    const bool expected = reason == "already encrypted" || reason == "not encrypted";
    if (m_verbose || !expected) {
        m_sink.Message("skipped \"" + path + "\": " + reason);
    }
}

void TCliRunView::FileNote(const std::string& path, const std::string& note)
{
    const std::lock_guard lock(m_mutex);
    m_sink.Message("note: \"" + path + "\": " + note);
}

void TCliRunView::PathSkipped(const std::string& path, const std::string& reason)
{
    const std::lock_guard lock(m_mutex);
    m_sink.Message("skipped \"" + path + "\": " + reason);
}

std::uint64_t TCliRunView::FilesProcessed() const
{
    const std::lock_guard lock(m_mutex);
    return m_filesProcessed;
}

std::uint64_t TCliRunView::BytesProcessed() const
{
    const std::lock_guard lock(m_mutex);
    return m_bytesProcessed;
}

std::uint64_t TCliRunView::FilesDone() const
{
    const std::lock_guard lock(m_mutex);
    return m_filesDone;
}

double TCliRunView::Seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void TCliRunView::Draw()
{
    auto shown = m_inHand.find(m_shown);
    if (shown == m_inHand.end()) {
        // The file shown is done: another one still in hand takes its place.
        shown = m_inHand.begin();
    }
    if (shown == m_inHand.end()) {
        // Nothing in hand yet (or any more): no empty frame.
        return;
    }
    TProgressState state;
    const TFileState& file = shown->second;
    state.Stage = file.Stage == TStage::Verifying ? "verifying"
                  : file.Stage == TStage::Wiping  ? "wiping"
                  : m_encrypting                  ? "encrypting"
                                                  : "decrypting";
    state.Name = file.Name;
    state.DoneBytes = m_finishedBytes;
    for (const auto& [thread, inHand] : m_inHand) {
        state.DoneBytes += inHand.Position;
    }
    state.TotalBytes = m_totalBytes;
    state.FilesDone = m_filesDone;
    state.Files = m_files;
    const double seconds = Seconds();
    if (seconds >= 1) {
        state.BytesPerSecond = static_cast<double>(state.DoneBytes) / seconds;
    }
    m_sink.Show(state);
}

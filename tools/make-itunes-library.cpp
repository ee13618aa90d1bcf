// SPDX-License-Identifier: GPL-3.0-or-later
// Writes an "iTunes Music Library.xml" shaped like the ones iTunes writes on macOS, deterministically from its
// arguments, for tests, benchmarks and the demo's sample home.
//
//   make-itunes-library --tracks N [--seed S] [--media-root DIR] [--audio-files A,B,...]
//                       [--device-playlist NAME] [--summary] --output FILE
//   make-itunes-library --sample --media-root DIR [--output FILE]
//   make-itunes-library --sample-audio
//
// Random mode invents N tracks grouped in albums, with the oddities real libraries have. Sample mode writes the
// demo's fixed table of tracks; --sample-audio prints the audio files that table expects under the media root, one
// "relative path<TAB>tone Hz<TAB>seconds" line each, so the build can make them with sox before the library.

#include "../library/PlayableTrack.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
using std::string;
using std::string_view;

// splitmix64: tiny, fast, and the same sequence on every platform, which std::*_distribution is not.
class Rng
{
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t n) { return n ? next() % n : 0; }
    int64_t between(int64_t lo, int64_t hi) { return lo + int64_t(below(uint64_t(hi - lo + 1))); }
    bool perMille(unsigned p) { return below(1000) < p; }
    template<typename T, size_t N>
    const T &pick(const std::array<T, N> &items) { return items[below(N)]; }

private:
    uint64_t m_state;
};

// ---------------------------------------------------------------------------------------------------------------
// Output

class Writer
{
public:
    explicit Writer(std::FILE *file) : m_file(file) { m_buffer.reserve(Capacity + 4096); }

    void raw(string_view s)
    {
        m_buffer.append(s);
        if (m_buffer.size() >= Capacity)
            flush();
    }
    void raw(char c) { m_buffer.push_back(c); }
    void tabs(int n) { m_buffer.append(size_t(n), '\t'); }
    void integer(int64_t v)
    {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, v);
        m_buffer.append(digits, result.ptr);
    }

    // Text as iTunes readers expect it: the three markup characters escaped, everything else raw UTF-8.
    void text(string_view s)
    {
        for (char c : s) {
            switch (c) {
            case '&': m_buffer.append("&amp;"); break;
            case '<': m_buffer.append("&lt;"); break;
            case '>': m_buffer.append("&gt;"); break;
            default: m_buffer.push_back(c);
            }
        }
    }

    // Locations are already percent-encoded; iTunes leaves '&' in them and writes it as a character reference.
    void location(string_view s)
    {
        for (char c : s) {
            if (c == '&')
                m_buffer.append("&#38;");
            else
                m_buffer.push_back(c);
        }
    }

    void key(int indent, string_view k)
    {
        tabs(indent);
        raw("<key>");
        text(k);
        raw("</key>");
    }
    void keyString(int indent, string_view k, string_view v)
    {
        key(indent, k);
        raw("<string>");
        text(v);
        raw("</string>\n");
    }
    void keyLocation(int indent, string_view v)
    {
        key(indent, "Location");
        raw("<string>");
        location(v);
        raw("</string>\n");
    }
    void keyInteger(int indent, string_view k, int64_t v)
    {
        key(indent, k);
        raw("<integer>");
        integer(v);
        raw("</integer>\n");
    }
    void keyDate(int indent, string_view k, int64_t unixSeconds);
    void keyBool(int indent, string_view k, bool v)
    {
        key(indent, k);
        raw(v ? "<true/>\n" : "<false/>\n");
    }
    void keyData(int indent, string_view k, string_view bytes);

    bool flush()
    {
        if (!m_buffer.empty() && std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size())
            m_failed = true;
        m_buffer.clear();
        return !m_failed;
    }
    bool failed() const { return m_failed; }

private:
    static constexpr size_t Capacity = size_t(4) << 20;
    std::FILE *m_file;
    string m_buffer;
    bool m_failed = false;
};

// Days since 1970-01-01 to a civil date (proleptic Gregorian), after Howard Hinnant's algorithm.
void civilFromDays(int64_t z, int64_t &y, unsigned &m, unsigned &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

int64_t unixFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return (era * 146097 + int64_t(doe) - 719468) * 86400;
}

void Writer::keyDate(int indent, string_view k, int64_t unixSeconds)
{
    int64_t days = unixSeconds / 86400;
    int64_t secs = unixSeconds % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char out[] = "0000-00-00T00:00:00Z";
    auto put = [&out](int at, int64_t value, int width) {
        for (int i = at + width - 1; i >= at; --i, value /= 10)
            out[i] = char('0' + value % 10);
    };
    put(0, y, 4);
    put(5, m, 2);
    put(8, d, 2);
    put(11, secs / 3600, 2);
    put(14, secs / 60 % 60, 2);
    put(17, secs % 60, 2);
    key(indent, k);
    raw("<date>");
    raw(string_view(out, sizeof out - 1));
    raw("</date>\n");
}

// <data> the way iTunes lays it out: base64 in lines of 72 characters at the key's indentation.
void Writer::keyData(int indent, string_view k, string_view bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    string encoded;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t a = uint8_t(bytes[i]);
        const uint32_t b = i + 1 < bytes.size() ? uint8_t(bytes[i + 1]) : 0;
        const uint32_t c = i + 2 < bytes.size() ? uint8_t(bytes[i + 2]) : 0;
        const uint32_t triple = (a << 16) | (b << 8) | c;
        encoded.push_back(alphabet[(triple >> 18) & 63]);
        encoded.push_back(alphabet[(triple >> 12) & 63]);
        encoded.push_back(i + 1 < bytes.size() ? alphabet[(triple >> 6) & 63] : '=');
        encoded.push_back(i + 2 < bytes.size() ? alphabet[triple & 63] : '=');
    }
    key(indent, k);
    raw('\n');
    tabs(indent);
    raw("<data>\n");
    for (size_t i = 0; i < encoded.size(); i += 72) {
        tabs(indent);
        raw(string_view(encoded).substr(i, 72));
        raw('\n');
    }
    tabs(indent);
    raw("</data>\n");
}

// ---------------------------------------------------------------------------------------------------------------
// Paths and URLs

// iTunes leaves these unencoded in a Location besides the unreserved characters; "&" then needs XML escaping.
bool keptInUrl(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("-._~/&'()!,@", c) != nullptr && c != 0;
}

string percentEncode(string_view path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    string out;
    out.reserve(path.size() + path.size() / 4);
    for (unsigned char c : path) {
        if (keptInUrl(c)) {
            out.push_back(char(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

string fileUrl(string_view absolutePath, bool tripleSlash = false)
{
    return (tripleSlash ? string("file://") : string("file://localhost")) + percentEncode(absolutePath);
}

string_view trimmed(string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

// One folder or file name as iTunes makes it from a tag: no separators, no leading dot, no edge spaces, and cut
// (on a UTF-8 boundary) when long.
string pathComponent(string_view tag, string_view fallback, size_t maxBytes = 60)
{
    string out(trimmed(tag));
    for (char &c : out) {
        if (c == '/' || c == ':')
            c = '_';
    }
    if (!out.empty() && out.front() == '.')
        out.front() = '_';
    if (out.size() > maxBytes) {
        size_t cut = maxBytes;
        while (cut > 0 && (uint8_t(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.resize(cut);
        out = string(trimmed(out));
    }
    return out.empty() ? string(fallback) : out;
}

string trackFileName(int discNumber, int discCount, int trackNumber, string_view name, string_view extension)
{
    char prefix[16] = "";
    if (trackNumber > 0) {
        if (discCount > 1)
            std::snprintf(prefix, sizeof prefix, "%d-%02d ", discNumber, trackNumber);
        else
            std::snprintf(prefix, sizeof prefix, "%02d ", trackNumber);
    }
    return prefix + pathComponent(name, "Untitled", 56) + string(extension);
}

string withoutTrailingSlash(string s)
{
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

// The "Music Folder" is the iTunes Media folder, one above its "Music" folder.
string musicFolderUrl(const string &mediaRoot)
{
    const fs::path root(mediaRoot);
    const fs::path parent = root.parent_path().filename();
    const bool managed = root.filename() == "Music" && (parent == "iTunes Media" || parent == "iTunes Music");
    const string folder = managed ? root.parent_path().string() : mediaRoot;
    return fileUrl(withoutTrailingSlash(folder) + "/");
}

string persistentId(Rng &rng)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    uint64_t v = rng.next();
    string out(16, '0');
    for (int i = 15; i >= 0; --i, v >>= 4)
        out[size_t(i)] = hex[v & 15];
    return out;
}

// ---------------------------------------------------------------------------------------------------------------
// Tracks and playlists

struct Track
{
    int64_t id = 0;
    string name, artist, albumArtist, composer, album, genre, kind, trackType = "File", location, persistentId;
    int64_t size = 0, totalTime = 0, dateModified = 0, dateAdded = 0, playDateUtc = 0, skipDate = 0;
    int discNumber = 0, discCount = 0, trackNumber = 0, trackCount = 0, year = 0, bitRate = 0, sampleRate = 0;
    int playCount = 0, skipCount = 0, rating = 0, artworkCount = 0, videoWidth = 0, videoHeight = 0;
    int fileFolderCount = 0, libraryFolderCount = 0;
    bool disabled = false, compilation = false, purchased = false, hasVideo = false;
};

// Seconds between the classic Mac epoch (1904) and the Unix one; "Play Date" counts from the former in local time.
constexpr int64_t MacEpochOffset = 2082844800;

string_view sortForm(string_view s)
{
    return s.starts_with("The ") ? trimmed(s.substr(4)) : string_view();
}

void writeTrack(Writer &w, const Track &t)
{
    w.tabs(2);
    w.raw("<key>");
    w.integer(t.id);
    w.raw("</key>\n\t\t<dict>\n");
    w.keyInteger(3, "Track ID", t.id);
    w.keyString(3, "Name", t.name);
    if (!t.artist.empty())
        w.keyString(3, "Artist", t.artist);
    if (!t.albumArtist.empty())
        w.keyString(3, "Album Artist", t.albumArtist);
    if (!t.composer.empty())
        w.keyString(3, "Composer", t.composer);
    if (!t.album.empty())
        w.keyString(3, "Album", t.album);
    if (!t.genre.empty())
        w.keyString(3, "Genre", t.genre);
    w.keyString(3, "Kind", t.kind);
    if (t.size)
        w.keyInteger(3, "Size", t.size);
    if (t.totalTime)
        w.keyInteger(3, "Total Time", t.totalTime);
    if (t.discNumber) {
        w.keyInteger(3, "Disc Number", t.discNumber);
        w.keyInteger(3, "Disc Count", t.discCount);
    }
    if (t.trackNumber) {
        w.keyInteger(3, "Track Number", t.trackNumber);
        w.keyInteger(3, "Track Count", t.trackCount);
    }
    if (t.year)
        w.keyInteger(3, "Year", t.year);
    w.keyDate(3, "Date Modified", t.dateModified);
    w.keyDate(3, "Date Added", t.dateAdded);
    w.keyInteger(3, "Bit Rate", t.bitRate);
    if (t.sampleRate)
        w.keyInteger(3, "Sample Rate", t.sampleRate);
    if (t.playCount) {
        w.keyInteger(3, "Play Count", t.playCount);
        w.keyInteger(3, "Play Date", t.playDateUtc + MacEpochOffset + 3600);
        w.keyDate(3, "Play Date UTC", t.playDateUtc);
    }
    if (t.skipCount) {
        w.keyInteger(3, "Skip Count", t.skipCount);
        w.keyDate(3, "Skip Date", t.skipDate);
    }
    if (t.rating)
        w.keyInteger(3, "Rating", t.rating);
    if (t.compilation)
        w.keyBool(3, "Compilation", true);
    if (t.artworkCount)
        w.keyInteger(3, "Artwork Count", t.artworkCount);
    if (const string_view sortArtist = sortForm(t.artist); !sortArtist.empty())
        w.keyString(3, "Sort Artist", sortArtist);
    if (const string_view sortName = sortForm(t.name); !sortName.empty())
        w.keyString(3, "Sort Name", sortName);
    w.keyString(3, "Persistent ID", t.persistentId);
    if (t.disabled)
        w.keyBool(3, "Disabled", true);
    w.keyString(3, "Track Type", t.trackType);
    if (t.purchased)
        w.keyBool(3, "Purchased", true);
    if (t.hasVideo) {
        w.keyBool(3, "Has Video", true);
        w.keyBool(3, "HD", false);
        w.keyInteger(3, "Video Width", t.videoWidth);
        w.keyInteger(3, "Video Height", t.videoHeight);
    }
    if (!t.location.empty())
        w.keyLocation(3, t.location);
    if (t.fileFolderCount) {
        w.keyInteger(3, "File Folder Count", t.fileFolderCount);
        w.keyInteger(3, "Library Folder Count", t.libraryFolderCount);
    }
    w.raw("\t\t</dict>\n");
}

struct Playlist
{
    string name, persistentId, parentPersistentId;
    int64_t id = 0;
    int distinguishedKind = 0;
    bool master = false, music = false, folder = false, hidden = false, allItems = true, itemsKey = true;
    string smartInfo, smartCriteria;
    std::vector<int64_t> items;
};

void writePlaylist(Writer &w, const Playlist &p)
{
    w.raw("\t\t<dict>\n");
    w.keyString(3, "Name", p.name);
    if (p.master)
        w.keyBool(3, "Master", true);
    w.keyInteger(3, "Playlist ID", p.id);
    w.keyString(3, "Playlist Persistent ID", p.persistentId);
    if (!p.parentPersistentId.empty())
        w.keyString(3, "Parent Persistent ID", p.parentPersistentId);
    if (p.distinguishedKind)
        w.keyInteger(3, "Distinguished Kind", p.distinguishedKind);
    if (p.music)
        w.keyBool(3, "Music", true);
    if (p.hidden)
        w.keyBool(3, "Visible", false);
    if (p.allItems)
        w.keyBool(3, "All Items", true);
    if (p.folder)
        w.keyBool(3, "Folder", true);
    if (!p.smartInfo.empty())
        w.keyData(3, "Smart Info", p.smartInfo);
    if (!p.smartCriteria.empty())
        w.keyData(3, "Smart Criteria", p.smartCriteria);
    if (p.itemsKey) {
        w.key(3, "Playlist Items");
        w.raw("\n\t\t\t<array>\n");
        for (int64_t id : p.items) {
            w.raw("\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>");
            w.integer(id);
            w.raw("</integer>\n\t\t\t\t</dict>\n");
        }
        w.raw("\t\t\t</array>\n");
    }
    w.raw("\t\t</dict>\n");
}

void writeHeader(Writer &w, int64_t date, string_view musicFolder, string_view libraryId)
{
    w.raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
          "<plist version=\"1.0\">\n"
          "<dict>\n");
    w.keyInteger(1, "Major Version", 1);
    w.keyInteger(1, "Minor Version", 1);
    w.keyDate(1, "Date", date);
    w.keyString(1, "Application Version", "12.9.5.5");
    w.keyInteger(1, "Features", 5);
    w.keyBool(1, "Show Content Ratings", true);
    w.key(1, "Music Folder");
    w.raw("<string>");
    w.location(musicFolder);
    w.raw("</string>\n");
    w.keyString(1, "Library Persistent ID", libraryId);
    w.key(1, "Tracks");
    w.raw("\n\t<dict>\n");
}

void writePlaylists(Writer &w, const std::vector<Playlist> &playlists)
{
    w.raw("\t</dict>\n");
    w.key(1, "Playlists");
    w.raw("\n\t<array>\n");
    for (const Playlist &p : playlists)
        writePlaylist(w, p);
    w.raw("\t</array>\n</dict>\n</plist>\n");
}

string randomBytes(Rng &rng, size_t n, string_view prefix = {})
{
    string out(prefix);
    while (out.size() < n)
        out.push_back(rng.below(4) ? '\0' : char(rng.below(256)));
    return out;
}

struct Summary
{
    int64_t tracks = 0, listed = 0, device = 0, deviceListed = 0;
};

// ---------------------------------------------------------------------------------------------------------------
// Random libraries

constexpr std::array<string_view, 96> TitleWords = {
    "Love", "Night", "River", "Midnight", "Blue", "Golden", "Summer", "Rain", "Heart", "Fire", "Ghost", "City",
    "Lights", "Dream", "Road", "Home", "Electric", "Velvet", "Paper", "Silver", "Echo", "Wild", "Ocean", "Moon",
    "Sun", "Shadow", "Glass", "Thunder", "Desert", "Winter", "Storm", "Piano", "Neon", "Satellite", "Garden",
    "Mirror", "Hollow", "Morning", "Highway", "Stars", "Kingdom", "Fever", "Honey", "Lonely", "Broken", "Sweet",
    "Running", "Falling", "Dancing", "Waiting", "Forever", "Tonight", "Yesterday", "Machine", "Radio", "Island",
    "Harbour", "Lantern", "Coffee", "Sugar", "Window", "Letter", "Train", "Station", "Bridge", "Mountain", "Valley",
    "Whisper", "Gravity", "Orbit", "Café", "Über", "Señor", "Fjørd", "Zürich", "Niño", "Déjà", "Vu", "Smörgås",
    "Ça", "Crème", "Façade", "Naïve", "Mañana", "Straße", "Øresund", "Ærø", "さくら", "ナイト", "ありがとう",
    "ゆめ", "トーキョー", "Привет", "Ελλάδα", "Ålesund", "Jalapeño"};

constexpr std::array<string_view, 12> Connectors = {
    " of the ", " in the ", " & ", " and ", " on ", " for ", " to ", " at ", " with ", " under ", " & the ", " or "};

constexpr std::array<string_view, 16> Plurals = {
    "Lanterns", "Rivers", "Ghosts", "Machines", "Stars", "Satellites", "Foxes", "Wolves", "Kids", "Sisters",
    "Brothers", "Echoes", "Strangers", "Pilots", "Dreamers", "Ramblers"};

constexpr std::array<string_view, 26> FirstNames = {
    "Anna", "Zoë", "José", "Søren", "Jürgen", "Maëlle", "Björn", "Chloé", "Inês", "Mateo", "Yuki", "Hiro", "Lena",
    "Oskar", "Amélie", "Nils", "Marta", "Kai", "Ida", "Ruth", "Tom", "Sam", "Grace", "Leo", "Ñusta", "Zoltán"};

constexpr std::array<string_view, 22> LastNames = {
    "Müller", "García", "Østergaard", "Dubois", "Tanaka", "Nakamura", "Silva", "Novak", "Kowalski", "Andersson",
    "O'Brien", "Moreau", "Peña", "Jensen", "Rossi", "Fischer", "Smith", "Brooks", "Hayes", "Byrne", "Łukasik",
    "Çelik"};

constexpr std::array<string_view, 20> Genres = {
    "Rock", "Pop", "Jazz", "Electronic", "Hip-Hop/Rap", "Classical", "Alternative", "R&B/Soul", "Country", "Folk",
    "Blues", "Reggae", "World", "Soundtrack", "Dance", "Singer/Songwriter", "Metal", "J-Pop", "Latin", "Ambient"};

// Rare names that test escaping, percent-encoding and characters beyond the Basic Multilingual Plane.
constexpr std::array<string_view, 12> OddTitles = {
    "<Intro>", "Rock > Roll", "A < B", "100% Pure", "Fish & Chips", "Guitar Hero 🎸", "🎧 Headphones On",
    "Tom & Jerry's <Theme>", "AC/DC Cover", "Question? Mark", "50% Off #1", "Semi;colon + Plus = Sum"};

struct Format
{
    string_view extension, kind;
    int bitRate, sampleRate;
};

constexpr Format Mp3{".mp3", "MPEG audio file", 192, 44100};
constexpr Format Aac{".m4a", "AAC audio file", 256, 44100};
constexpr Format PurchasedAac{".m4a", "Purchased AAC audio file", 256, 44100};
constexpr Format Lossless{".m4a", "Apple Lossless audio file", 880, 44100};
constexpr Format Wav{".wav", "WAV audio file", 1411, 44100};
constexpr Format RawAac{".aac", "AAC audio file", 128, 44100};
constexpr Format Wma{".wma", "Windows Media audio file", 128, 44100};
constexpr Format Flac{".flac", "FLAC audio file", 900, 44100};
constexpr Format Video{".m4v", "MPEG-4 video file", 1500, 44100};
constexpr Format UpperMp3{".MP3", "MPEG audio file", 160, 44100};

Format formatOf(string_view path)
{
    for (const Format &f : {Mp3, Aac, Wav, RawAac, Wma, Flac, Video})
        if (path.ends_with(f.extension))
            return f;
    return Format{"", "MPEG audio file", 192, 44100};
}

string titleCase(Rng &rng)
{
    string s;
    switch (rng.below(6)) {
    case 0: s = rng.pick(TitleWords); break;
    case 1:
    case 2: s = string(rng.pick(TitleWords)) + " " + string(rng.pick(TitleWords)); break;
    case 3: s = string(rng.pick(TitleWords)) + string(rng.pick(Connectors)) + string(rng.pick(TitleWords)); break;
    case 4: s = "The " + string(rng.pick(TitleWords)) + " " + string(rng.pick(TitleWords)); break;
    default:
        s = string(rng.pick(TitleWords)) + " " + string(rng.pick(TitleWords)) + " " +
            string(rng.pick(TitleWords));
    }
    return s;
}

string makeTitle(Rng &rng)
{
    if (rng.perMille(12))
        return string(rng.pick(OddTitles));
    string s = titleCase(rng);
    switch (rng.below(30)) {
    case 0: s += " (" + string(rng.pick(TitleWords)) + " Remix)"; break;
    case 1: s += " [Live]"; break;
    case 2: s += " - Single Version"; break;
    case 3: s += ", Pt. 2"; break;
    case 4: s += " (feat. " + string(rng.pick(FirstNames)) + " " + string(rng.pick(LastNames)) + ")"; break;
    default: break;
    }
    if (rng.perMille(5))
        s = " " + s;
    if (rng.perMille(5))
        s += " ";
    return s;
}

string makeArtist(Rng &rng)
{
    switch (rng.below(10)) {
    case 0:
    case 1:
    case 2: return "The " + string(rng.pick(TitleWords)) + " " + string(rng.pick(Plurals));
    case 3: return string(rng.pick(FirstNames)) + " & the " + string(rng.pick(Plurals));
    case 4: return string(rng.pick(TitleWords)) + " & " + string(rng.pick(TitleWords));
    case 5:
        if (rng.perMille(300))
            return "ナカムラ ユキ";
        return string(rng.pick(TitleWords)) + string(rng.pick(Plurals));
    default: return string(rng.pick(FirstNames)) + " " + string(rng.pick(LastNames));
    }
}

string makeAlbum(Rng &rng)
{
    string s;
    switch (rng.below(12)) {
    case 0: s = "Live at the " + string(rng.pick(TitleWords)); break;
    case 1: s = "Greatest Hits"; break;
    case 2: s = titleCase(rng) + " (Deluxe Edition)"; break;
    case 3: s = titleCase(rng) + ", Vol. " + std::to_string(rng.between(1, 4)); break;
    case 4: s = "<" + string(rng.pick(TitleWords)) + ">"; break;
    default: s = titleCase(rng);
    }
    if (rng.perMille(10))
        s += " ";
    return s;
}

Format pickAlbumFormat(Rng &rng)
{
    const uint64_t r = rng.below(100);
    if (r < 55)
        return Mp3;
    if (r < 74)
        return Aac;
    if (r < 84)
        return PurchasedAac;
    if (r < 88)
        return Lossless;
    if (r < 92)
        return Wav;
    if (r < 96)
        return RawAac;
    return Wma;
}

struct RandomOptions
{
    int64_t tracks = 0;
    uint64_t seed = 1;
    string mediaRoot = "/Users/someone/Music/iTunes/iTunes Media/Music";
    std::vector<string> audioFiles;
    string devicePlaylist = "Playbook";
};

struct TrackRef
{
    int64_t id;
    bool listed;
    bool audio;
};

// Deals with the odd cases a handful per thousand; the rest are plain managed files.
enum class Variant { Plain, Disabled, Remote, Stream, Flac, Video, UpperCase, DoubleExtension, Mp3Folder, M4aFolder };

Variant pickVariant(Rng &rng)
{
    const uint64_t r = rng.below(1000);
    if (r < 10) return Variant::Disabled;
    if (r < 18) return Variant::Remote;
    if (r < 22) return Variant::Stream;
    if (r < 42) return Variant::Flac;
    if (r < 50) return Variant::Video;
    if (r < 58) return Variant::UpperCase;
    if (r < 62) return Variant::DoubleExtension;
    if (r < 66) return Variant::Mp3Folder;
    if (r < 70) return Variant::M4aFolder;
    return Variant::Plain;
}

void applyFormat(Track &t, const Format &f, Rng &rng)
{
    t.kind = f.kind;
    t.bitRate = f.bitRate == 192 ? int(rng.pick(std::array<int, 5>{128, 160, 192, 256, 320})) : f.bitRate;
    t.sampleRate = f.sampleRate;
    t.size = t.totalTime * t.bitRate / 8 + rng.between(2000, 90000);
}

Summary generateRandom(Writer &w, const RandomOptions &o)
{
    Rng rng(o.seed * 0x2545F4914F6CDD1Dull + 17);
    Rng listRng(o.seed ^ 0xA5A5A5A5DEADBEEFull);
    const string mediaRoot = withoutTrailingSlash(o.mediaRoot);
    const int64_t libraryDate = unixFromCivil(2015, 3, 14) + rng.between(0, 86400 * 300);
    writeHeader(w, libraryDate, musicFolderUrl(mediaRoot), persistentId(rng));

    // A pool of artists, so the same names recur across albums as in a real collection.
    std::vector<string> artists(size_t(std::max<int64_t>(12, o.tracks / 40)));
    for (string &a : artists)
        a = makeArtist(rng);

    std::vector<TrackRef> refs;
    refs.reserve(size_t(o.tracks));
    Summary summary;
    Track t;
    int64_t nextId = 1000 + int64_t(rng.below(4000));
    size_t audioIndex = 0;
    const int64_t earliest = unixFromCivil(2006, 1, 1), latest = unixFromCivil(2015, 1, 1);

    while (int64_t(refs.size()) < o.tracks) {
        const int64_t albumSize = std::min<int64_t>(rng.between(5, 16), o.tracks - int64_t(refs.size()));
        const bool compilation = rng.perMille(50);
        const bool untagged = rng.perMille(10);
        const string albumArtist = compilation ? "Various Artists" : artists[rng.below(artists.size())];
        const string album = untagged ? string() : makeAlbum(rng);
        const string genre = untagged ? string() : string(rng.pick(Genres));
        const int year = untagged ? 0 : int(rng.between(1962, 2014));
        const Format albumFormat = pickAlbumFormat(rng);
        const int discCount = untagged ? 0 : rng.perMille(60) ? 2 : 1;
        const int64_t added = rng.between(earliest, latest);
        const int artwork = rng.perMille(700) ? 1 : 0;
        const string composer = rng.perMille(300) ? string(rng.pick(FirstNames)) + " " + string(rng.pick(LastNames))
                                                  : string();

        for (int64_t i = 0; i < albumSize; ++i) {
            t = Track();
            t.id = nextId;
            nextId += rng.perMille(950) ? 2 : rng.between(3, 40);
            t.persistentId = persistentId(rng);
            t.name = makeTitle(rng);
            t.artist = compilation ? makeArtist(rng) : untagged ? string() : albumArtist;
            t.albumArtist = compilation || rng.perMille(400) ? albumArtist : string();
            if (untagged)
                t.albumArtist.clear();
            t.composer = composer;
            t.album = album;
            t.genre = genre;
            t.year = year;
            t.compilation = compilation;
            if (discCount) {
                t.discCount = discCount;
                const int64_t perDisc = (albumSize + discCount - 1) / discCount;
                t.discNumber = int(i / perDisc) + 1;
                t.trackNumber = int(i % perDisc) + 1;
                t.trackCount = int(std::min<int64_t>(perDisc, albumSize - (t.discNumber - 1) * perDisc));
            }
            t.totalTime = rng.perMille(20) ? rng.between(600000, 3600000) : rng.between(95000, 420000);
            t.dateAdded = added + i * rng.between(1, 4);
            t.dateModified = t.dateAdded - rng.between(0, 86400 * 30);
            if (rng.perMille(600)) {
                t.playCount = int(rng.between(1, 120));
                t.playDateUtc = t.dateAdded + rng.between(3600, 86400 * 400);
            }
            if (rng.perMille(80)) {
                t.skipCount = int(rng.between(1, 9));
                t.skipDate = t.dateAdded + rng.between(3600, 86400 * 300);
            }
            if (rng.perMille(150))
                t.rating = int(rng.between(1, 5)) * 20;
            t.artworkCount = artwork;
            t.fileFolderCount = 5;
            t.libraryFolderCount = 1;

            const Variant variant = pickVariant(rng);
            const bool tripleSlash = rng.perMille(30);
            Format format = albumFormat;
            switch (variant) {
            case Variant::Flac: format = Flac; break;
            case Variant::Video: format = Video; break;
            case Variant::UpperCase: format = UpperMp3; break;
            case Variant::Mp3Folder:
            case Variant::M4aFolder:
            case Variant::DoubleExtension: format = Mp3; break;
            default: break;
            }
            applyFormat(t, format, rng);
            t.purchased = format.kind == PurchasedAac.kind;

            const string artistFolder =
                compilation ? string("Compilations") : pathComponent(albumArtist.empty() ? t.artist : albumArtist,
                                                                      "Unknown Artist");
            string albumFolder = pathComponent(album, "Unknown Album");
            string extension(format.extension);
            if (variant == Variant::Mp3Folder)
                albumFolder += ".mp3";
            else if (variant == Variant::M4aFolder)
                albumFolder += ".m4a";
            else if (variant == Variant::DoubleExtension)
                extension = ".mp3.mp3";
            const string path = mediaRoot + "/" + artistFolder + "/" + albumFolder + "/" +
                                trackFileName(t.discNumber, t.discCount, untagged ? 0 : t.trackNumber, t.name,
                                              extension);
            t.location = fileUrl(path, tripleSlash);

            switch (variant) {
            case Variant::Disabled: t.disabled = true; break;
            case Variant::Remote:
                t.trackType = "Remote";
                t.location.clear();
                t.fileFolderCount = 0;
                t.purchased = true;
                break;
            case Variant::Stream:
                t.trackType = "URL";
                t.kind = "Internet audio stream";
                t.location = "http://radio.example.net/stream/" + std::to_string(t.id) + ".mp3";
                t.size = t.totalTime = 0;
                t.fileFolderCount = 0;
                break;
            case Variant::Video:
                t.hasVideo = true;
                t.videoWidth = 640;
                t.videoHeight = 360;
                break;
            case Variant::Plain:
                if (!o.audioFiles.empty()) {
                    const string &file = o.audioFiles[audioIndex++ % o.audioFiles.size()];
                    applyFormat(t, formatOf(file), rng);
                    t.location = fileUrl(file, tripleSlash);
                }
                break;
            default: break;
            }

            writeTrack(w, t);
            const bool listed = PlayableTrack::isPlayable(t.disabled, t.location);
            summary.listed += listed;
            refs.push_back({t.id, listed, !t.hasVideo && t.trackType != "URL"});
        }
    }
    summary.tracks = int64_t(refs.size());

    // Playlists share the track IDs' number space in iTunes, so they start past the last track.
    int64_t playlistId = nextId + 100;
    std::vector<Playlist> playlists;
    playlists.reserve(16); // add() hands out references that must stay valid
    auto add = [&](string name) -> Playlist & {
        Playlist &p = playlists.emplace_back();
        p.name = std::move(name);
        p.id = playlistId;
        playlistId += 2;
        p.persistentId = persistentId(listRng);
        return p;
    };
    auto sample = [&](Playlist &p, unsigned perMille, bool shuffle) {
        for (const TrackRef &r : refs)
            if (listRng.perMille(perMille))
                p.items.push_back(r.id);
        if (shuffle)
            for (size_t i = p.items.size(); i > 1; --i)
                std::swap(p.items[i - 1], p.items[listRng.below(i)]);
    };

    Playlist &library = add("Library");
    library.master = true;
    library.hidden = true;
    for (const TrackRef &r : refs)
        library.items.push_back(r.id);

    Playlist &music = add("Music");
    music.distinguishedKind = 4;
    music.music = true;
    for (const TrackRef &r : refs)
        if (r.audio)
            music.items.push_back(r.id);

    Playlist &device = add(o.devicePlaylist);
    sample(device, 100, true);
    for (int64_t id : device.items) {
        ++summary.device;
        const auto it = std::lower_bound(refs.begin(), refs.end(), id,
                                         [](const TrackRef &r, int64_t v) { return r.id < v; });
        summary.deviceListed += it->listed;
    }
    // Real playlists sometimes name tracks that are gone from the library.
    if (!refs.empty())
        device.items.insert(device.items.begin() + int64_t(device.items.size() / 2), nextId + 1);

    sample(add(o.devicePlaylist + " (old)"), 10, true);
    sample(add("Road Trip"), 30, true);
    sample(add("Chill & Focus"), 20, true);

    Playlist &folder = add("Mixes");
    folder.folder = true;
    Playlist &lateNight = add("Late Night <Mix>");
    lateNight.parentPersistentId = folder.persistentId;
    sample(lateNight, 15, true);
    folder.items = lateNight.items;

    Playlist &smart = add("Recently Added");
    smart.smartInfo = randomBytes(listRng, 92, string("\x01\x01\x00\x03", 4));
    smart.smartCriteria = randomBytes(listRng, 316, "SLst");
    sample(smart, 25, false);

    Playlist &empty = add("Untitled Playlist");
    empty.itemsKey = false;

    writePlaylists(w, playlists);
    return summary;
}

// ---------------------------------------------------------------------------------------------------------------
// The demo's sample library

struct SampleTrack
{
    int id;
    string_view name, artist, album, genre;
    int year, trackNumber, trackCount;
    string_view extension;
    int toneHz, seconds;
    bool disabled, playbook, blackberry, evening;
};

// Each track is a short tone of its own pitch, so the handset plays something that tells them apart.
constexpr std::array<SampleTrack, 14> SampleTracks = {{
    {1001, "Café Nights", "Zoë & the Lanterns", "Lantern Light", "Indie Pop", 2011, 1, 3, ".mp3", 440, 2, false, true, true, true},
    {1003, "Harbour Lights", "Zoë & the Lanterns", "Lantern Light", "Indie Pop", 2011, 2, 3, ".mp3", 494, 2, false, false, false, true},
    {1005, "Paper Boats", "Zoë & the Lanterns", "Lantern Light", "Indie Pop", 2011, 3, 3, ".wav", 523, 1, false, true, false, false},
    {1007, "Señor Sunshine", "Los Niños del Mar", "Olas y Sal", "Latin", 2009, 1, 1, ".mp3", 587, 3, false, true, true, false},
    {1009, "Slow   Motion  Blues", "The  Quiet   Ones", "Songs for  Empty   Rooms", "Blues", 1998, 4, 9, ".wav", 330, 3, false, false, false, true},
    {1011, "Salt & Vinegar", "Jürgen Müller", "Küchenlieder", "Folk", 2004, 2, 10, ".mp3", 659, 2, false, true, false, false},
    {1013, "Fjord Morning", "Søren Østergaard", "Nordlys", "Ambient", 2013, 1, 8, ".wav", 698, 2, false, false, true, false},
    {1015, "さくら (Sakura)", "Yuki Tanaka", "はる", "J-Pop", 2012, 5, 12, ".mp3", 784, 2, false, true, false, false},
    {1017, "Wavelength 100%", "The Static Pilots", "Signal > Noise", "Electronic", 2014, 1, 2, ".mp3", 880, 1, false, false, false, false},
    {1019, "Unfinished Demo", "The Static Pilots", "Signal > Noise", "Electronic", 2014, 2, 2, ".mp3", 392, 1, true, true, true, false},
    {1021, "Live at the Barn", "The Barn Owls", "Barn Sessions", "Country", 2007, 1, 2, ".flac", 262, 1, false, true, true, false},
    {1023, "Last Train Out", "The Barn Owls", "Barn Sessions", "Country", 2007, 2, 2, ".wav", 349, 2, false, false, false, true},
    {1025, "Ça Va, Ça Vient", "Amélie Dubois", "Rive Gauche", "French Pop", 2010, 3, 11, ".mp3", 415, 2, false, false, false, false},
    {1027, "Night Shift 🎧", "Neon Satellites", "Night Shift", "Electronic", 2015, 1, 1, ".mp3", 622, 2, false, false, false, false},
}};

string samplePath(const SampleTrack &s)
{
    return pathComponent(s.artist, "Unknown Artist") + "/" + pathComponent(s.album, "Unknown Album") + "/" +
           trackFileName(1, 1, s.trackNumber, s.name, s.extension);
}

void printSampleAudio()
{
    for (const SampleTrack &s : SampleTracks)
        std::printf("%s\t%d\t%d\n", samplePath(s).c_str(), s.toneHz, s.seconds);
}

Summary generateSample(Writer &w, const string &mediaRootArg)
{
    Rng rng(20150314);
    const string mediaRoot = withoutTrailingSlash(mediaRootArg);
    writeHeader(w, unixFromCivil(2015, 3, 14) + 9 * 3600 + 26 * 60 + 53, musicFolderUrl(mediaRoot),
                persistentId(rng));
    Summary summary;
    std::vector<Playlist> playlists(5);
    const std::array<string_view, 5> names = {"Library", "Music", "Playbook", "BlackBerry", "Evening"};
    for (size_t i = 0; i < playlists.size(); ++i) {
        playlists[i].name = names[i];
        playlists[i].id = 2001 + int64_t(i) * 2;
        playlists[i].persistentId = persistentId(rng);
    }
    playlists[0].master = playlists[0].hidden = true;
    playlists[1].distinguishedKind = 4;
    playlists[1].music = true;

    int64_t day = 0;
    for (const SampleTrack &s : SampleTracks) {
        Track t;
        t.id = s.id;
        t.persistentId = persistentId(rng);
        t.name = s.name;
        t.artist = s.artist;
        t.albumArtist = s.artist;
        t.album = s.album;
        t.genre = s.genre;
        t.year = s.year;
        t.discNumber = t.discCount = 1;
        t.trackNumber = s.trackNumber;
        t.trackCount = s.trackCount;
        t.totalTime = int64_t(s.seconds) * 1000;
        t.dateAdded = unixFromCivil(2014, 11, 2) + day * 86400 + 20 * 3600;
        t.dateModified = t.dateAdded - 600;
        day += 3;
        t.sampleRate = 22050;
        t.disabled = s.disabled;
        t.fileFolderCount = 5;
        t.libraryFolderCount = 1;
        const string path = mediaRoot + "/" + samplePath(s);
        t.location = fileUrl(path);
        const Format f = formatOf(s.extension);
        t.kind = f.kind;
        std::error_code error;
        const uintmax_t size = fs::file_size(path, error);
        t.size = error ? int64_t(s.seconds) * 4000 : int64_t(size);
        t.bitRate = s.extension == ".wav" ? 353 : s.extension == ".flac" ? 250 : int(t.size * 8 / t.totalTime);
        writeTrack(w, t);

        const bool listed = PlayableTrack::isPlayable(t.disabled, t.location);
        ++summary.tracks;
        summary.listed += listed;
        summary.device += s.playbook;
        summary.deviceListed += s.playbook && listed;
        playlists[0].items.push_back(t.id);
        playlists[1].items.push_back(t.id);
        if (s.playbook)
            playlists[2].items.push_back(t.id);
        if (s.blackberry)
            playlists[3].items.push_back(t.id);
        if (s.evening)
            playlists[4].items.push_back(t.id);
    }
    writePlaylists(w, playlists);
    return summary;
}

// ---------------------------------------------------------------------------------------------------------------

int usage(const char *program, int code)
{
    std::fprintf(code ? stderr : stdout,
                 "usage: %s --tracks N [--seed S] [--media-root DIR] [--audio-files FILE,FILE...]\n"
                 "          [--device-playlist NAME] [--summary] --output FILE\n"
                 "       %s --sample --media-root DIR [--summary] --output FILE\n"
                 "       %s --sample-audio\n"
                 "\n"
                 "Writes an iTunes Music Library.xml, the same bytes for the same arguments.\n"
                 "  --tracks N            invent N tracks (random mode)\n"
                 "  --seed S              vary the invented library (default 1)\n"
                 "  --media-root DIR      absolute folder the Locations point into\n"
                 "                        (default /Users/someone/Music/iTunes/iTunes Media/Music)\n"
                 "  --audio-files LIST    comma-separated absolute paths of real audio files; the ordinary\n"
                 "                        tracks point at them in turn, so they can be streamed\n"
                 "  --device-playlist N   name of the ~10%% playlist for the handset (default Playbook)\n"
                 "  --summary             print tracks, listed, device-playlist and device-listed counts\n"
                 "  --sample              write the demo library for the files under --media-root\n"
                 "  --sample-audio        print the demo's audio files: relative path, tone Hz, seconds\n"
                 "  --output FILE         where to write (written to FILE.tmp, then renamed)\n",
                 program, program, program);
    return code;
}

bool parseInteger(const char *text, int64_t &out)
{
    const char *end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, out);
    return result.ec == std::errc() && result.ptr == end;
}

} // namespace

int main(int argc, char **argv)
{
    RandomOptions options;
    string output;
    bool sample = false, sampleAudio = false, summary = false, haveTracks = false, haveRoot = false;

    for (int i = 1; i < argc; ++i) {
        const string_view arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s: %s needs a value\n", argv[0], argv[i]);
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            return usage(argv[0], 0);
        } else if (arg == "--tracks") {
            if (!parseInteger(value(), options.tracks) || options.tracks < 0) {
                std::fprintf(stderr, "%s: --tracks wants a count, got '%s'\n", argv[0], argv[i]);
                return 2;
            }
            haveTracks = true;
        } else if (arg == "--seed") {
            int64_t seed;
            if (!parseInteger(value(), seed)) {
                std::fprintf(stderr, "%s: --seed wants an integer, got '%s'\n", argv[0], argv[i]);
                return 2;
            }
            options.seed = uint64_t(seed);
        } else if (arg == "--media-root") {
            options.mediaRoot = value();
            haveRoot = true;
        } else if (arg == "--audio-files") {
            string_view list = value();
            while (!list.empty()) {
                const size_t comma = list.find(',');
                const string_view item = list.substr(0, comma);
                if (!item.empty())
                    options.audioFiles.emplace_back(item);
                list = comma == string_view::npos ? string_view() : list.substr(comma + 1);
            }
        } else if (arg == "--device-playlist") {
            options.devicePlaylist = value();
        } else if (arg == "--output") {
            output = value();
        } else if (arg == "--sample") {
            sample = true;
        } else if (arg == "--sample-audio") {
            sampleAudio = true;
        } else if (arg == "--summary") {
            summary = true;
        } else {
            std::fprintf(stderr, "%s: unknown argument '%s'\n", argv[0], argv[i]);
            return usage(argv[0], 2);
        }
    }

    if (sampleAudio) {
        printSampleAudio();
        return 0;
    }
    if (output.empty() || (sample == haveTracks) || (sample && !haveRoot))
        return usage(argv[0], 2);
    if (options.mediaRoot.empty() || options.mediaRoot.front() != '/') {
        std::fprintf(stderr, "%s: --media-root must be an absolute path\n", argv[0]);
        return 2;
    }
    for (const string &file : options.audioFiles) {
        if (file.front() != '/') {
            std::fprintf(stderr, "%s: audio file '%s' is not an absolute path\n", argv[0], file.c_str());
            return 2;
        }
    }

    const fs::path target(output);
    if (target.has_parent_path()) {
        std::error_code error;
        fs::create_directories(target.parent_path(), error);
    }
    const string temporary = output + ".tmp";
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], temporary.c_str(), std::strerror(errno));
        return 1;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    Writer writer(file);
    const Summary counts = sample ? generateSample(writer, options.mediaRoot) : generateRandom(writer, options);
    const bool written = writer.flush() && std::fclose(file) == 0;
    if (!written || std::rename(temporary.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], output.c_str(), std::strerror(errno));
        std::remove(temporary.c_str());
        return 1;
    }
    if (summary)
        std::printf("tracks %lld\nlisted %lld\ndevice-playlist %lld\ndevice-listed %lld\n",
                    static_cast<long long>(counts.tracks), static_cast<long long>(counts.listed),
                    static_cast<long long>(counts.device), static_cast<long long>(counts.deviceListed));
    return 0;
}

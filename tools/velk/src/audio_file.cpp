#include "audio_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "velk/core/text.hpp"

namespace velk::tool {

namespace {

constexpr sf_count_t CHUNK_FRAMES = 4096;

std::string encoding_name(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return "8-bit";
    case SF_FORMAT_PCM_16:
        return "16-bit";
    case SF_FORMAT_PCM_24:
        return "24-bit";
    case SF_FORMAT_PCM_32:
        return "32-bit";
    case SF_FORMAT_FLOAT:
        return "float";
    case SF_FORMAT_DOUBLE:
        return "double";
    default:
        return "encoded";
    }
}

std::string major_name(int format) {
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr) {
        const std::string name = info.name;
        return name.substr(0, name.find(' '));
    }
    return "audio";
}

} // namespace

double Audio::seconds() const noexcept {
    return sample_rate > 0 ? static_cast<double>(frames()) / sample_rate : 0.0;
}

std::string Audio::describe() const {
    const std::size_t n = channels.size();
    const std::string layout =
        n == 1 ? "mono" : (n == 2 ? "stereo" : std::to_string(n) + " channels");
    return major_name(format) + " " + encoding_name(format) + ", " + std::to_string(sample_rate) +
           " Hz, " + layout + ", " + format_fixed(seconds(), 2) + " s";
}

Result<Audio> read_audio(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail("cannot read '" + path + "': " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return fail("cannot read '" + path + "': it is a folder");
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return fail("cannot read '" + path + "' as audio: " + sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        return fail("cannot read '" + path + "' as audio: it has no channels or no sample rate");
    }
    Audio audio;
    audio.sample_rate = info.samplerate;
    audio.format = info.format;
    const auto channels = static_cast<std::size_t>(info.channels);
    audio.channels.assign(channels, {});
    for (auto& channel : audio.channels)
        channel.reserve(static_cast<std::size_t>(std::max<sf_count_t>(info.frames, 0)));
    std::vector<float> chunk(static_cast<std::size_t>(CHUNK_FRAMES) * channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(file, chunk.data(), CHUNK_FRAMES);
        if (got <= 0)
            break;
        for (std::size_t f = 0; f < static_cast<std::size_t>(got); ++f)
            for (std::size_t c = 0; c < channels; ++c)
                audio.channels[c].push_back(chunk[f * channels + c]);
    }
    const int error = sf_error(file);
    const std::string message = sf_strerror(file);
    sf_close(file);
    if (error != SF_ERR_NO_ERROR)
        return fail("cannot read '" + path + "' as audio: " + message);
    return audio;
}

Result<void> write_audio(const std::string& temp, const std::string& path, const Audio& audio) {
    SF_INFO info{};
    info.samplerate = audio.sample_rate;
    info.channels = static_cast<int>(audio.channels.size());
    info.format = audio.format;
    if (sf_format_check(&info) == 0)
        return fail("cannot write '" + path + "': libsndfile cannot write this format");
    SNDFILE* file = sf_open(temp.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return fail("cannot write '" + path + "': " + sf_strerror(nullptr));
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const std::size_t channels = audio.channels.size();
    const std::size_t frames = audio.frames();
    std::vector<float> chunk(static_cast<std::size_t>(CHUNK_FRAMES) * channels);
    bool ok = true;
    for (std::size_t at = 0; at < frames && ok;) {
        const std::size_t n = std::min<std::size_t>(frames - at, CHUNK_FRAMES);
        for (std::size_t f = 0; f < n; ++f)
            for (std::size_t c = 0; c < channels; ++c)
                chunk[f * channels + c] = audio.channels[c][at + f];
        ok = sf_writef_float(file, chunk.data(), static_cast<sf_count_t>(n)) ==
             static_cast<sf_count_t>(n);
        at += n;
    }
    const std::string message = sf_strerror(file);
    if (sf_close(file) != 0)
        ok = false;
    if (!ok)
        return fail("cannot write '" + path + "': " + message);
    return {};
}

} // namespace velk::tool

// A session of host calls decoded from the input, made through halvex_au's interface:
// initialize, uninitialize and reset; property sets with any size, scope and element
// (stream formats, sample rates, maximum frames, bypass, the input callback, an
// upstream connection, host callbacks, presets); parameter sets, reads and scheduled
// changes with any id, scope, element, event type and value (NaN and infinities
// included); renders with any frame count, bus, buffer list (missing, null buffers,
// wrong channel counts), time stamp and input behaviour; property listeners and
// render notifications added and removed; ClassInfo saved and restored.
//
// The harness keeps its own account of the instance: its life-cycle state, formats,
// maximum frames, bypass, last render error, present preset, input, listeners and
// notifications, and every parameter value (a mirror set takes the same writes, and
// the queued ones at the next render that reaches them). Every call must give the
// status the account predicts, and afterwards the instance must agree with it: a
// refused call changes nothing and calls no listener, a value written last is read
// back. A render allocates nothing, restores the floating-point mode, leaves the
// host's buffers alone when refused early, passes the input through when bypassed and
// turns finite input no louder than full scale into finite output.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "halvex/halvex.hpp"
#include "support/au_host.hpp"
#include "support/bytes.hpp"
#include "support/check.hpp"
#include "velk/core/ftz.hpp"
#include "velk/core/param.hpp"
#include "velk/core/state.hpp"
#include "velk/test/alloc.hpp"

namespace {

using velk::fuzz::AU_GR;
using velk::fuzz::AU_PARAMS;
using velk::fuzz::AuUnit;
using velk::fuzz::Bytes;

constexpr OSStatus OK = noErr;
constexpr float INF = std::numeric_limits<float>::infinity();
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr std::size_t MAX_CALLS = 48;
constexpr std::uint32_t MAX_BLOCK = 8192;
constexpr std::uint32_t MAX_SAMPLES = 32768; // per render, over all channels

constexpr float VALUES[] = {NaN,  INF,   -INF,  0.0f,   1.0f,  -1.0f, 0.5f,
                            1e30f, -1e30f, 1e-40f, -18.0f, 4.0f,  100.0f, 0.49999997f};
constexpr AudioUnitParameterID IDS[] = {0,   128, 256, 384,  512,        640, 768, 896,
                                        1024, 1,  127, 1152, 0xFFFFFFFFu};
constexpr AudioUnitScope SCOPES[] = {0, 0, 0, 0, 1, 2, 3};
constexpr AudioUnitElement ELEMENTS[] = {0, 0, 0, 0, 1, 128};
constexpr double RATES[] = {44100.0, 48000.0, 0.0, -48000.0, 1.0, 1e9, 8000.0};
constexpr UInt32 MAX_FRAMES[] = {1156, 1, 64, 512, 4096, 0, 1048576, 1048577, 0xFFFFFFFFu};
constexpr UInt32 CHANNELS[] = {2, 1, 2, 8, 0, 64, 65, 0xFFFFFFFFu};
constexpr UInt32 FRAMES[] = {64, 0, 1, 32, 511, 512, 1156, 1157, 4096};

/// A property the harness writes: where it lives, its size and whether it is writable.
struct Prop {
    AudioUnitPropertyID id;
    std::uint8_t scopes; ///< bit per scope
    enum { Zero, Any, Param } element;
    UInt32 size; ///< 0: ParameterList's, depends on the scope
    bool writable;
};

constexpr std::uint8_t G = 1, I = 2, O = 4;
constexpr Prop PROPS[] = {
    {kAudioUnitProperty_SampleRate, I | O, Prop::Zero, 8, true},
    {kAudioUnitProperty_StreamFormat, I | O, Prop::Zero, 40, true},
    {kAudioUnitProperty_MaximumFramesPerSlice, G, Prop::Zero, 4, true},
    {kAudioUnitProperty_BypassEffect, G, Prop::Zero, 4, true},
    {kAudioUnitProperty_LastRenderError, G, Prop::Zero, 4, true},
    {kAudioUnitProperty_InPlaceProcessing, G, Prop::Zero, 4, true},
    {kAudioUnitProperty_ShouldAllocateBuffer, I | O, Prop::Zero, 4, true},
    {kAudioUnitProperty_SetRenderCallback, I, Prop::Zero, 16, true},
    {kAudioUnitProperty_MakeConnection, I, Prop::Zero, 16, true},
    {kAudioUnitProperty_HostCallbacks, G, Prop::Zero, 40, true},
    {kAudioUnitProperty_PresentPreset, G, Prop::Zero, 16, true},
    {kAudioUnitProperty_ParameterList, G | I | O, Prop::Any, 0, false},
    {kAudioUnitProperty_ParameterInfo, G, Prop::Param, 104, false},
    {kAudioUnitProperty_ElementCount, G | I | O, Prop::Any, 4, false},
    {kAudioUnitProperty_Latency, G, Prop::Zero, 8, false},
    {kAudioUnitProperty_SupportedNumChannels, G, Prop::Zero, 4, false},
    {kAudioUnitProperty_ParameterValueStrings, G, Prop::Param, 8, false},
    {kAudioUnitProperty_TailTime, G, Prop::Zero, 8, false},
    {kAudioUnitProperty_ParameterStringFromValue, G, Prop::Zero, 24, false},
    {kAudioUnitProperty_ParameterIDName, G, Prop::Zero, 16, false},
    {kAudioUnitProperty_ParameterValueFromString, G, Prop::Zero, 24, false},
    {5, G | I | O, Prop::Zero, 4, false},     // not a property of the unit
    {9999, G | I | O, Prop::Zero, 4, false},  // nor this
};
constexpr std::size_t KNOWN = std::size(PROPS) - 2;

bool valid_id(AudioUnitParameterID id) {
    return id % 128 == 0 && id / 128 < AU_PARAMS;
}

// The host's callbacks, which report to the session that is running.
struct Session;
Session* current = nullptr;

OSStatus input_proc(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                    AudioBufferList*);
OSStatus notify_proc(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                     AudioBufferList*);
void listener_proc(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement);
void other_listener(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {}
OSStatus tempo_proc(void*, Float64*, Float64*);
OSStatus transport_proc(void*, Boolean*, Boolean*, Float64*, Boolean*, Float64*, Float64*);

/// A buffer list for `channels` buffers of `frames` samples.
struct Audio {
    Audio(UInt32 channels, UInt32 frames)
        : samples(channels, std::vector<float>(frames, 0.25f)),
          raw(std::max<std::size_t>(3, 1 + 2 * std::size_t{channels}), 0) {
        list()->mNumberBuffers = channels;
        for (UInt32 c = 0; c < channels; ++c)
            buffer(c) = AudioBuffer{1, frames * 4, samples[c].data()};
    }
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(raw.data()); }
    AudioBuffer& buffer(std::size_t c) {
        AudioBuffer* first = list()->mBuffers;
        return first[c];
    }
    std::vector<std::vector<float>> samples;
    std::vector<std::uint64_t> raw;
};

struct Session {
    explicit Session(Bytes& in) : in_(in) {
        current = this;
        other_.reset(new AuUnit);
    }
    ~Session() {
        for (CFTypeRef s : snapshots_)
            CFRelease(s);
        current = nullptr;
    }

    void call() {
        switch (in_.u8() % 16) {
        case 0:
            initialize();
            break;
        case 1:
            VELK_FUZZ_CHECK(unit_.uninitialize() == noErr);
            initialized_ = false;
            break;
        case 2:
            VELK_FUZZ_CHECK(unit_.reset(in_.u8() % 4, in_.u8()) == noErr);
            break;
        case 3:
        case 4:
        case 5:
            render();
            break;
        case 6:
            set_parameter();
            break;
        case 7:
            schedule();
            break;
        case 8:
            get_parameter();
            break;
        case 9:
        case 10:
            set_property();
            break;
        case 11:
            class_info();
            break;
        case 12:
            listeners();
            break;
        case 13:
            notifies();
            break;
        case 14:
            get_property();
            break;
        default:
            null_arguments();
            break;
        }
        check();
    }

    // The host's callbacks.
    OSStatus pull(AudioBufferList* list, UInt32 frames) {
        ++pulls_;
        if (input_mode_ == 1)
            return input_error_;
        for (UInt32 c = 0; c < list->mNumberBuffers; ++c) {
            AudioBuffer* buffers = list->mBuffers;
            auto* out = static_cast<float*>(buffers[c].mData);
            for (UInt32 i = 0; i < frames; ++i) {
                noise_ = noise_ * 1664525u + 1013904223u;
                out[i] = static_cast<float>(noise_ >> 8) * 0x1p-23f - 1.0f;
            }
            if (input_mode_ == 3 && frames > 0)
                out[0] = NaN;
            if (c < pulled_.size() && frames <= pulled_[c].size()) // no allocation here
                std::copy(out, out + frames, pulled_[c].begin());
        }
        if (input_mode_ == 2 && list->mNumberBuffers > 0) {
            AudioBuffer* buffers = list->mBuffers;
            buffers[list->mNumberBuffers - 1].mData = nullptr;
        }
        return noErr;
    }
    void notified(AudioUnitRenderActionFlags* flags) {
        VELK_FUZZ_CHECK(flags != nullptr);
        const bool pre = (*flags & kAudioUnitRenderAction_PreRender) != 0;
        const bool post = (*flags & kAudioUnitRenderAction_PostRender) != 0;
        VELK_FUZZ_CHECK(pre != post);
        ++(pre ? pre_calls_ : post_calls_);
    }
    void heard() { ++heard_; }
    OSStatus tempo(Float64* beat, Float64* bpm) const {
        *beat = 1.0;
        *bpm = tempo_;
        return noErr;
    }

private:
    // The account after every call.
    void check() {
        for (std::size_t i = 0; i < AU_PARAMS; ++i) {
            const float value = unit_.parameter(static_cast<AudioUnitParameterID>(i * 128));
            const velk::ParamInfo& info = mirror_.at(i).info();
            VELK_FUZZ_CHECK(value >= info.min && value <= info.max);
            if (i * 128 != AU_GR)
                VELK_FUZZ_CHECK(std::bit_cast<std::uint32_t>(value) ==
                                std::bit_cast<std::uint32_t>(mirror_.at(i).get()));
        }
        for (const auto& [scope, channels] :
             {std::pair{kAudioUnitScope_Input, in_ch_}, std::pair{kAudioUnitScope_Output, out_ch_}}) {
            AudioStreamBasicDescription format{};
            VELK_FUZZ_CHECK(unit_.get(kAudioUnitProperty_StreamFormat, format, scope) == noErr);
            VELK_FUZZ_CHECK(format.mChannelsPerFrame == channels && format.mSampleRate == rate_);
        }
        UInt32 frames = 0;
        VELK_FUZZ_CHECK(unit_.get(kAudioUnitProperty_MaximumFramesPerSlice, frames) == noErr);
        VELK_FUZZ_CHECK(frames == max_frames_);
        UInt32 bypass = 7;
        VELK_FUZZ_CHECK(unit_.get(kAudioUnitProperty_BypassEffect, bypass) == noErr);
        VELK_FUZZ_CHECK(bypass == (bypass_ ? 1u : 0u));
        OSStatus error = 1;
        VELK_FUZZ_CHECK(unit_.get(kAudioUnitProperty_LastRenderError, error) == noErr);
        VELK_FUZZ_CHECK(error == last_error_);
        const auto [number, name] = unit_.present_preset();
        VELK_FUZZ_CHECK(number == preset_number_ && name == preset_name_);
        AURenderCallbackStruct input{};
        VELK_FUZZ_CHECK(unit_.get(kAudioUnitProperty_SetRenderCallback, input,
                                  kAudioUnitScope_Input) == noErr);
        VELK_FUZZ_CHECK((input.inputProc != nullptr) == has_input_);
        AudioUnitConnection connection{};
        VELK_FUZZ_CHECK(unit_.get(kAudioUnitProperty_MakeConnection, connection,
                                  kAudioUnitScope_Input) == noErr);
        VELK_FUZZ_CHECK((connection.sourceAudioUnit != nullptr) == connected_);
        // A render on bus 1 tells the life-cycle state apart without touching anything.
        Audio audio(out_ch_, 1);
        VELK_FUZZ_CHECK(unit_.render(nullptr, nullptr, 1, 1, audio.list()) ==
                        (initialized_ ? kAudioUnitErr_InvalidElement : kAudioUnitErr_Uninitialized));
        VELK_FUZZ_CHECK(heard_ == expected_heard_);
    }

    void initialize() {
        const OSStatus status = unit_.initialize();
        if (initialized_) {
            VELK_FUZZ_CHECK(status == noErr);
        } else if (in_ch_ != out_ch_ || out_ch_ < 1 || out_ch_ > 64) {
            VELK_FUZZ_CHECK(status == kAudioUnitErr_FormatNotSupported);
        } else {
            VELK_FUZZ_CHECK(status == noErr);
            initialized_ = true;
        }
    }

    // Where a property call goes, as the table says: an error, or noErr and the size.
    std::pair<OSStatus, UInt32> address(const Prop& p, AudioUnitScope scope,
                                        AudioUnitElement element, bool known) const {
        if (!known)
            return {kAudioUnitErr_InvalidProperty, 0};
        if (scope > 2 || (p.scopes & (1u << scope)) == 0)
            return {kAudioUnitErr_InvalidScope, 0};
        if (p.element == Prop::Zero && element != 0)
            return {kAudioUnitErr_InvalidElement, 0};
        if (p.element == Prop::Param) {
            if (!valid_id(element))
                return {kAudioUnitErr_InvalidParameter, 0};
            if (p.id == kAudioUnitProperty_ParameterValueStrings)
                return {kAudioUnitErr_InvalidProperty, 0}; // the compressor has no choice
        }
        if (p.id == kAudioUnitProperty_ParameterList)
            return {noErr, scope == 0 ? static_cast<UInt32>(AU_PARAMS * 4) : 0u};
        return {noErr, p.size};
    }

    void notify(AudioUnitPropertyID id, std::size_t times = 1) {
        for (const auto& [property, user] : listeners_)
            if (property == id)
                expected_heard_ += times;
    }

    void set_property() {
        const std::size_t which = in_.u8() % std::size(PROPS);
        const Prop& p = PROPS[which];
        const AudioUnitScope scope =
            in_.u8() % 4 == 0 ? in_.pick(SCOPES, [](Bytes& b) { return b.u32(); })
                              : (p.scopes & G ? 0u : p.scopes & I ? 1u : 2u);
        const AudioUnitElement element =
            in_.u8() % 4 == 0 ? in_.pick(ELEMENTS, [](Bytes& b) { return b.u32(); }) : 0u;
        alignas(8) std::uint8_t data[64] = {};
        const UInt32 exact = p.size ? p.size : 36;
        UInt32 size = exact;
        switch (in_.u8() % 8) {
        case 0:
            size = exact - 1;
            break;
        case 1:
            size = exact + 1;
            break;
        case 2:
            size = in_.u8() % sizeof data;
            break;
        default:
            break;
        }
        const bool null_data = in_.u8() % 16 == 0;
        fill(p.id, data);

        const auto [where, property_size] = address(p, scope, element, which < KNOWN);
        OSStatus expected = where;
        if (expected == noErr && !p.writable)
            expected = kAudioUnitErr_PropertyNotWritable;
        if (expected == noErr && (null_data || size != property_size))
            expected = kAudioUnitErr_InvalidPropertyValue;
        if (expected == noErr)
            expected = predict_write(p.id, scope, data);
        const OSStatus status =
            unit_.set_property(p.id, scope, element, null_data ? nullptr : data, size);
        VELK_FUZZ_CHECK(status == expected);
        if (status == noErr)
            apply_write(p.id, scope, data);
    }

    // A value for property `id`, from the input: interesting values and raw bytes,
    // but only pointers the harness owns.
    void fill(AudioUnitPropertyID id, std::uint8_t* data) {
        switch (id) {
        case kAudioUnitProperty_SampleRate: {
            const double rate = in_.pick(RATES, [](Bytes& b) { return static_cast<double>(b.f32()); });
            std::memcpy(data, &rate, sizeof rate);
            break;
        }
        case kAudioUnitProperty_StreamFormat: {
            AudioStreamBasicDescription f{};
            f.mSampleRate = in_.pick(RATES, [](Bytes& b) { return static_cast<double>(b.f32()); });
            f.mFormatID = in_.u8() % 8 ? kAudioFormatLinearPCM : in_.u32();
            f.mFormatFlags = in_.u8() % 8 ? 0x29u | (in_.u8() % 2 ? 2u : 0u) : in_.u32();
            f.mBytesPerPacket = in_.u8() % 8 ? 4 : in_.u8();
            f.mFramesPerPacket = in_.u8() % 8 ? 1 : in_.u8();
            f.mBytesPerFrame = in_.u8() % 8 ? 4 : in_.u8();
            f.mChannelsPerFrame =
                in_.pick(CHANNELS, [](Bytes& b) { return static_cast<UInt32>(b.u8()); });
            f.mBitsPerChannel = in_.u8() % 8 ? 32 : in_.u8();
            std::memcpy(data, &f, sizeof f);
            break;
        }
        case kAudioUnitProperty_MaximumFramesPerSlice: {
            const UInt32 frames =
                in_.pick(MAX_FRAMES, [](Bytes& b) { return static_cast<UInt32>(b.u16()); });
            std::memcpy(data, &frames, sizeof frames);
            break;
        }
        case kAudioUnitProperty_SetRenderCallback: {
            const AURenderCallbackStruct r{in_.u8() % 4 ? input_proc : nullptr, this};
            std::memcpy(data, &r, sizeof r);
            break;
        }
        case kAudioUnitProperty_MakeConnection: {
            const AudioUnitConnection c{in_.u8() % 2 ? other_->handle() : nullptr, in_.u8() % 2u,
                                        0};
            std::memcpy(data, &c, sizeof c);
            break;
        }
        case kAudioUnitProperty_HostCallbacks: {
            const std::uint8_t which = in_.u8();
            HostCallbackInfo h{};
            h.hostUserData = this;
            h.beatAndTempoProc = which & 1 ? tempo_proc : nullptr;
            h.transportStateProc = which & 2 ? transport_proc : nullptr;
            tempo_ = in_.pick(RATES, [](Bytes& b) { return static_cast<double>(b.f32()); });
            std::memcpy(data, &h, sizeof h);
            break;
        }
        case kAudioUnitProperty_PresentPreset: {
            AUPreset preset{static_cast<SInt32>(in_.u32()), nullptr};
            switch (in_.u8() % 4) {
            case 0:
                break;
            case 1:
                preset.presetName = reinterpret_cast<CFStringRef>(velk::fuzz::make_number(3));
                break;
            default: {
                const auto piece = in_.take(in_.u8() % 16);
                preset.presetName =
                    velk::fuzz::make_string(std::string_view(reinterpret_cast<const char*>(piece.data()), piece.size()));
                break;
            }
            }
            if (preset.presetName != nullptr)
                snapshots_.push_back(preset.presetName); // kept until the session ends
            std::memcpy(data, &preset, sizeof preset);
            break;
        }
        default: {
            const auto piece = in_.take(4);
            std::memcpy(data, piece.data(), piece.size());
            break;
        }
        }
    }

    OSStatus predict_write(AudioUnitPropertyID id, AudioUnitScope, const std::uint8_t* data) const {
        switch (id) {
        case kAudioUnitProperty_SampleRate: {
            double rate;
            std::memcpy(&rate, data, sizeof rate);
            if (initialized_)
                return kAudioUnitErr_Initialized;
            return std::isfinite(rate) && rate > 0.0 ? OK : OSStatus{kAudioUnitErr_InvalidPropertyValue};
        }
        case kAudioUnitProperty_StreamFormat: {
            AudioStreamBasicDescription f;
            std::memcpy(&f, data, sizeof f);
            if (initialized_)
                return kAudioUnitErr_Initialized;
            const bool ok = f.mFormatID == kAudioFormatLinearPCM &&
                            (f.mFormatFlags & 0x29u) == 0x29u && f.mBitsPerChannel == 32 &&
                            f.mBytesPerFrame == 4 && f.mBytesPerPacket == 4 &&
                            f.mFramesPerPacket == 1 && f.mChannelsPerFrame >= 1 &&
                            f.mChannelsPerFrame <= 64 && std::isfinite(f.mSampleRate) &&
                            f.mSampleRate > 0.0;
            return ok ? OK : OSStatus{kAudioUnitErr_FormatNotSupported};
        }
        case kAudioUnitProperty_MaximumFramesPerSlice: {
            UInt32 frames;
            std::memcpy(&frames, data, sizeof frames);
            if (initialized_)
                return kAudioUnitErr_Initialized;
            return frames >= 1 && frames <= 1048576 ? OK : OSStatus{kAudioUnitErr_InvalidPropertyValue};
        }
        default:
            return noErr;
        }
    }

    void apply_write(AudioUnitPropertyID id, AudioUnitScope scope, const std::uint8_t* data) {
        switch (id) {
        case kAudioUnitProperty_SampleRate:
            std::memcpy(&rate_, data, sizeof rate_);
            notify(kAudioUnitProperty_SampleRate, 2);
            notify(kAudioUnitProperty_StreamFormat, 2);
            return;
        case kAudioUnitProperty_StreamFormat: {
            AudioStreamBasicDescription f;
            std::memcpy(&f, data, sizeof f);
            rate_ = f.mSampleRate;
            notify(kAudioUnitProperty_StreamFormat, 2);
            if (scope == kAudioUnitScope_Input) {
                in_ch_ = f.mChannelsPerFrame;
            } else {
                if (f.mChannelsPerFrame != out_ch_)
                    notify(kAudioUnitProperty_ParameterList);
                out_ch_ = f.mChannelsPerFrame;
            }
            return;
        }
        case kAudioUnitProperty_MaximumFramesPerSlice:
            std::memcpy(&max_frames_, data, sizeof max_frames_);
            break;
        case kAudioUnitProperty_BypassEffect: {
            UInt32 v;
            std::memcpy(&v, data, sizeof v);
            bypass_ = v != 0;
            break;
        }
        case kAudioUnitProperty_LastRenderError:
            std::memcpy(&last_error_, data, sizeof last_error_);
            break;
        case kAudioUnitProperty_SetRenderCallback: {
            AURenderCallbackStruct r;
            std::memcpy(&r, data, sizeof r);
            has_input_ = r.inputProc != nullptr;
            if (has_input_)
                connected_ = false;
            break;
        }
        case kAudioUnitProperty_MakeConnection: {
            AudioUnitConnection c;
            std::memcpy(&c, data, sizeof c);
            connected_ = c.sourceAudioUnit != nullptr;
            if (connected_)
                has_input_ = false;
            break;
        }
        case kAudioUnitProperty_PresentPreset: {
            AUPreset preset;
            std::memcpy(&preset, data, sizeof preset);
            preset_number_ = preset.presetNumber;
            if (preset.presetName != nullptr &&
                CFGetTypeID(preset.presetName) == CFStringGetTypeID())
                preset_name_ = velk::fuzz::text_of(preset.presetName)->c_str();
            break;
        }
        default:
            break;
        }
        notify(id);
    }

    // Reads: a wrong address, a null size, a short buffer, or a null buffer; none
    // changes anything.
    void get_property() {
        const std::size_t which = in_.u8() % std::size(PROPS);
        const Prop& p = PROPS[which];
        const AudioUnitScope scope = in_.pick(SCOPES, [](Bytes& b) { return b.u32(); });
        const AudioUnitElement element =
            in_.u8() % 2 ? IDS[in_.u8() % std::size(IDS)]
                         : in_.pick(ELEMENTS, [](Bytes& b) { return b.u32(); });
        const auto [where, property_size] = address(p, scope, element, which < KNOWN);
        UInt32 size = 0;
        Boolean writable = 2;
        VELK_FUZZ_CHECK(unit_.property_info(p.id, scope, element, &size, &writable) == where);
        if (where == noErr)
            VELK_FUZZ_CHECK(size == property_size && writable == (p.writable ? 1 : 0));
        VELK_FUZZ_CHECK(unit_.property_info(p.id, scope, element, nullptr, nullptr) == where);
        VELK_FUZZ_CHECK(unit_.get_property(p.id, scope, element, nullptr, nullptr) ==
                        kAudio_ParamError);
        size = 12345;
        VELK_FUZZ_CHECK(unit_.get_property(p.id, scope, element, nullptr, &size) == where);
        VELK_FUZZ_CHECK(size == (where == noErr ? property_size : 12345u));
        if (where != noErr || property_size == 0)
            return;
        // One byte short, into a buffer of exactly that many bytes.
        std::vector<std::uint8_t> buffer(property_size - 1, 0xA5);
        size = property_size - 1;
        VELK_FUZZ_CHECK(unit_.get_property(p.id, scope, element, buffer.data(), &size) ==
                        kAudioUnitErr_InvalidPropertyValue);
        VELK_FUZZ_CHECK(size == property_size - 1);
        VELK_FUZZ_CHECK(std::all_of(buffer.begin(), buffer.end(),
                                    [](std::uint8_t b) { return b == 0xA5; }));
    }

    void set_parameter() {
        const AudioUnitScope scope = in_.pick(SCOPES, [](Bytes& b) { return b.u32(); });
        const AudioUnitElement element = in_.pick(ELEMENTS, [](Bytes& b) { return b.u32(); });
        const AudioUnitParameterID id = in_.pick(IDS, [](Bytes& b) { return b.u32(); });
        const float value = in_.pick(VALUES, [](Bytes& b) { return b.f32(); });
        OSStatus expected = noErr;
        if (scope != 0)
            expected = kAudioUnitErr_InvalidScope;
        else if (element != 0)
            expected = kAudioUnitErr_InvalidElement;
        else if (!valid_id(id) || !std::isfinite(value) || id == AU_GR)
            expected = kAudioUnitErr_InvalidParameter;
        VELK_FUZZ_CHECK(unit_.set_parameter(id, scope, element, value, in_.u32()) == expected);
        if (expected == noErr)
            mirror_.at(id / 128).set(value);
    }

    void get_parameter() {
        const AudioUnitScope scope = in_.pick(SCOPES, [](Bytes& b) { return b.u32(); });
        const AudioUnitElement element = in_.pick(ELEMENTS, [](Bytes& b) { return b.u32(); });
        const AudioUnitParameterID id = in_.pick(IDS, [](Bytes& b) { return b.u32(); });
        const bool null_out = in_.u8() % 4 == 0;
        OSStatus expected = noErr;
        if (scope != 0)
            expected = kAudioUnitErr_InvalidScope;
        else if (element != 0)
            expected = kAudioUnitErr_InvalidElement;
        else if (!valid_id(id))
            expected = kAudioUnitErr_InvalidParameter;
        else if (null_out)
            expected = kAudio_ParamError;
        float value = -12345.0f;
        VELK_FUZZ_CHECK(unit_.get_parameter(id, scope, element, null_out ? nullptr : &value) ==
                        expected);
        if (expected != noErr)
            VELK_FUZZ_CHECK(value == -12345.0f);
        else if (id != AU_GR)
            VELK_FUZZ_CHECK(value == mirror_.at(id / 128).get());
    }

    void schedule() {
        AudioUnitParameterEvent events[4] = {};
        const UInt32 count = in_.u8() % 5;
        for (UInt32 i = 0; i < count; ++i) {
            AudioUnitParameterEvent& e = events[i];
            e.scope = in_.pick(SCOPES, [](Bytes& b) { return b.u32(); });
            e.element = in_.pick(ELEMENTS, [](Bytes& b) { return b.u32(); });
            e.parameter = in_.pick(IDS, [](Bytes& b) { return b.u32(); });
            const std::uint8_t type = in_.u8();
            e.eventType = type % 8 < 4 ? kParameterEvent_Immediate
                          : type % 8 < 7 ? kParameterEvent_Ramped
                                         : static_cast<AUParameterEventType>(type % 4 == 3 ? 3 : 0);
            const float value = in_.pick(VALUES, [](Bytes& b) { return b.f32(); });
            if (e.eventType == kParameterEvent_Ramped) {
                e.eventValues.ramp.startBufferOffset = static_cast<SInt32>(in_.u16()) - 100;
                e.eventValues.ramp.durationInFrames = in_.u16();
                e.eventValues.ramp.startValue = in_.pick(VALUES, [](Bytes& b) { return b.f32(); });
                e.eventValues.ramp.endValue = value;
            } else {
                e.eventValues.immediate.bufferOffset = in_.u16();
                e.eventValues.immediate.value = value;
            }
        }
        const bool null_events = in_.u8() % 8 == 0;
        OSStatus expected = noErr;
        if (null_events) {
            expected = count > 0 ? OSStatus{kAudio_ParamError} : OK;
        } else {
            for (UInt32 i = 0; i < count && expected == noErr; ++i) {
                const AudioUnitParameterEvent& e = events[i];
                const float value = e.eventType == kParameterEvent_Ramped
                                        ? e.eventValues.ramp.endValue
                                        : e.eventValues.immediate.value;
                if (e.scope != 0)
                    expected = kAudioUnitErr_InvalidScope;
                else if (e.element != 0)
                    expected = kAudioUnitErr_InvalidElement;
                else if (!valid_id(e.parameter))
                    expected = kAudioUnitErr_InvalidParameter;
                else if (e.eventType != kParameterEvent_Immediate &&
                         e.eventType != kParameterEvent_Ramped)
                    expected = kAudioUnitErr_InvalidPropertyValue;
                else if (!std::isfinite(value))
                    expected = kAudioUnitErr_InvalidParameter;
                else
                    queue_.emplace_back(e.parameter / 128, value);
            }
        }
        VELK_FUZZ_CHECK(unit_.schedule(null_events ? nullptr : events, count) == expected);
    }

    void render() {
        const UInt32 bus = in_.u8() % 8 == 0 ? 1 + in_.u8() % 2 : 0;
        UInt32 frames = in_.u8() % 4 == 0 ? max_frames_ + in_.u8() % 2
                                          : in_.pick(FRAMES, [](Bytes& b) {
                                                return static_cast<UInt32>(b.u16());
                                            });
        const std::uint8_t shape = in_.u8();
        const UInt32 channels =
            shape % 4 ? out_ch_
                      : std::min(in_.pick(CHANNELS, [](Bytes& b) { return UInt32{b.u8()}; }), 65u);
        frames = std::min({frames, MAX_BLOCK, MAX_SAMPLES / std::max(1u, channels)});
        const bool no_list = shape % 16 == 4;
        const std::uint8_t nulls = in_.u8();
        input_mode_ = in_.u8() % 8;
        input_mode_ = input_mode_ > 3 ? 0 : input_mode_;
        input_error_ = in_.u8() % 2 ? -1 : 5;
        AudioUnitRenderActionFlags flags =
            in_.u8() % 4 == 0 ? UInt32{kAudioUnitRenderAction_OutputIsSilence} : 0u;
        const bool no_flags = in_.u8() % 4 == 0;
        AudioTimeStamp stamp{};
        stamp.mSampleTime = static_cast<Float64>(in_.u32());
        stamp.mFlags = in_.u8() % 2 ? UInt32{kAudioTimeStampSampleTimeValid} : 0u;
        const bool no_stamp = in_.u8() % 4 == 0;

        Audio audio(channels, frames);
        for (UInt32 c = 0; c < channels; ++c)
            if ((nulls & 0x80) != 0 && (nulls & (1u << (c % 7))) != 0)
                audio.buffer(c) = AudioBuffer{0, 0, nullptr};
        const std::vector<std::uint64_t> raw_before = audio.raw;
        const std::vector<std::vector<float>> samples_before = audio.samples;
        pulled_.assign(channels, std::vector<float>(frames));
        const int pulls = pulls_;
        const std::size_t pre = pre_calls_, post = post_calls_;
        std::size_t registrations = notify_refs_.size();

        const std::uint64_t mode = velk::float_control_register();
        OSStatus status = noErr;
        {
            const velk::test::NoAllocScope scope;
            status = unit_.render(no_flags ? nullptr : &flags, no_stamp ? nullptr : &stamp, bus,
                                  frames, no_list ? nullptr : audio.list());
            if (velk::test::counting_allocations())
                VELK_FUZZ_CHECK(scope.count() == 0);
        }
        VELK_FUZZ_CHECK(velk::float_control_register() == mode);

        // The checks before anything is touched.
        OSStatus early = noErr;
        if (!initialized_)
            early = kAudioUnitErr_Uninitialized;
        else if (bus != 0)
            early = kAudioUnitErr_InvalidElement;
        else if (frames > max_frames_)
            early = kAudioUnitErr_TooManyFramesToProcess;
        else if (no_list)
            early = kAudio_ParamError;
        else if (channels != out_ch_)
            early = kAudioUnitErr_FormatNotSupported;
        if (early != noErr) {
            VELK_FUZZ_CHECK(status == early);
            VELK_FUZZ_CHECK(audio.raw == raw_before && audio.samples == samples_before);
            VELK_FUZZ_CHECK(pulls_ == pulls && pre_calls_ == pre && post_calls_ == post);
            if (early == kAudioUnitErr_FormatNotSupported)
                last_error_ = early;
            return;
        }
        // Every buffer now has data, one channel and the block's byte size.
        for (UInt32 c = 0; c < channels; ++c) {
            VELK_FUZZ_CHECK(audio.buffer(c).mNumberChannels == 1);
            if (!(input_mode_ == 2 && has_input_ && c + 1 == channels))
                VELK_FUZZ_CHECK(audio.buffer(c).mData != nullptr &&
                                audio.buffer(c).mDataByteSize == frames * 4);
        }
        VELK_FUZZ_CHECK(pre_calls_ == pre + registrations);
        OSStatus expected = noErr;
        if (connected_)
            expected = kAudioUnitErr_Uninitialized; // the upstream unit is never initialized
        else if (!has_input_)
            expected = kAudioUnitErr_NoConnection;
        else if (input_mode_ == 1)
            expected = input_error_;
        else if (input_mode_ == 2 && channels > 0)
            expected = kAudio_ParamError;
        VELK_FUZZ_CHECK(pulls_ == pulls + (has_input_ && !connected_ ? 1 : 0));
        if (expected == noErr || expected == kAudio_ParamError) {
            // Queued changes reach the parameters at the start of the block, in order.
            const velk::ScopedFlushToZero ftz;
            for (const auto& [index, value] : queue_)
                if (index * 128 != AU_GR)
                    mirror_.at(index).set(value);
            queue_.clear();
        }
        VELK_FUZZ_CHECK(status == expected);
        if (status != noErr) {
            last_error_ = status;
            VELK_FUZZ_CHECK(post_calls_ == post);
            return;
        }
        VELK_FUZZ_CHECK(post_calls_ == post + registrations);
        if (!no_flags)
            VELK_FUZZ_CHECK((flags & kAudioUnitRenderAction_OutputIsSilence) == 0);
        for (UInt32 c = 0; c < channels; ++c) {
            const auto* out = static_cast<const float*>(audio.buffer(c).mData);
            if (bypass_) {
                VELK_FUZZ_CHECK(std::equal(out, out + frames, pulled_[c].begin(),
                                           [](float a, float b) {
                                               return std::bit_cast<std::uint32_t>(a) ==
                                                      std::bit_cast<std::uint32_t>(b);
                                           }));
            } else if (input_mode_ != 3) {
                VELK_FUZZ_CHECK(std::all_of(out, out + frames,
                                            [](float x) { return std::isfinite(x); }));
            }
        }
    }

    void class_info() {
        const std::uint8_t how = in_.u8();
        if (how % 4 == 0 || saved_.empty()) {
            CFPropertyListRef info = nullptr;
            VELK_FUZZ_CHECK(unit_.get(kAudioUnitProperty_ClassInfo, info) == noErr);
            saved_.push_back(info);
            snapshots_.push_back(info);
            return;
        }
        if (how % 4 == 1) {
            // Not a dictionary: refused, nothing changes.
            const CFPropertyListRef wrong = velk::fuzz::make_number(0);
            VELK_FUZZ_CHECK(unit_.set(kAudioUnitProperty_ClassInfo, wrong) ==
                            kAudioUnitErr_InvalidPropertyValue);
            CFRelease(wrong);
            return;
        }
        const CFPropertyListRef info = saved_[in_.u8() % saved_.size()];
        VELK_FUZZ_CHECK(unit_.set(kAudioUnitProperty_ClassInfo, info) == noErr);
        const auto dict = static_cast<CFDictionaryRef>(info);
        VELK_FUZZ_CHECK(velk::state::load(mirror_, velk::fuzz::class_info_data(dict)));
        preset_name_ = *velk::fuzz::text_of(
            static_cast<CFStringRef>(CFDictionaryGetValue(dict, CFSTR("name"))));
        notify(kAudioUnitProperty_ClassInfo);
    }

    void listeners() {
        static constexpr AudioUnitPropertyID WATCHED[] = {
            kAudioUnitProperty_StreamFormat,  kAudioUnitProperty_SampleRate,
            kAudioUnitProperty_BypassEffect,  kAudioUnitProperty_PresentPreset,
            kAudioUnitProperty_ClassInfo,     kAudioUnitProperty_MaximumFramesPerSlice,
            kAudioUnitProperty_ParameterList, kAudioUnitProperty_SetRenderCallback,
            kAudioUnitProperty_LastRenderError};
        const AudioUnitPropertyID id = WATCHED[in_.u8() % std::size(WATCHED)];
        void* const user = &users_[in_.u8() % 2];
        switch (in_.u8() % 5) {
        case 0:
        case 1:
            VELK_FUZZ_CHECK(unit_.add_listener(id, listener_proc, user) == noErr);
            listeners_.emplace_back(id, user);
            break;
        case 2:
            VELK_FUZZ_CHECK(unit_.remove_listener(id, listener_proc) == noErr);
            std::erase_if(listeners_, [&](const auto& l) { return l.first == id; });
            break;
        case 3:
            VELK_FUZZ_CHECK(unit_.remove_listener(id, listener_proc, user) == noErr);
            std::erase_if(listeners_, [&](const auto& l) { return l.first == id && l.second == user; });
            break;
        default: // never registered: removes nothing
            VELK_FUZZ_CHECK(unit_.remove_listener(id, other_listener) == noErr);
            VELK_FUZZ_CHECK(unit_.remove_listener(id, other_listener, user) == noErr);
            break;
        }
    }

    void notifies() {
        void* const ref = &users_[in_.u8() % 2];
        if (in_.u8() % 2) {
            VELK_FUZZ_CHECK(unit_.add_notify(notify_proc, ref) == noErr);
            notify_refs_.push_back(ref);
        } else {
            VELK_FUZZ_CHECK(unit_.remove_notify(notify_proc, ref) == noErr);
            std::erase(notify_refs_, ref);
        }
    }

    // Calls with a null or unusable argument: each is refused and changes nothing.
    void null_arguments() {
        const AudioComponentPlugInInterface* iface = unit_.iface();
        switch (in_.u8() % 6) {
        case 0:
            VELK_FUZZ_CHECK(unit_.add_listener(kAudioUnitProperty_BypassEffect, nullptr, nullptr) ==
                            kAudio_ParamError);
            VELK_FUZZ_CHECK(unit_.add_notify(nullptr, nullptr) == kAudio_ParamError);
            break;
        case 1: {
            const auto set = reinterpret_cast<AudioUnitSetPropertyProc>(
                iface->Lookup(kAudioUnitSetPropertySelect));
            const UInt32 one = 1;
            VELK_FUZZ_CHECK(set(nullptr, kAudioUnitProperty_BypassEffect, 0, 0, &one, 4) ==
                            kAudio_ParamError);
            const auto get = reinterpret_cast<AudioUnitGetPropertyProc>(
                iface->Lookup(kAudioUnitGetPropertySelect));
            UInt32 size = 4;
            UInt32 out = 0;
            VELK_FUZZ_CHECK(get(nullptr, kAudioUnitProperty_BypassEffect, 0, 0, &out, &size) ==
                            kAudio_ParamError);
            break;
        }
        case 2: {
            const auto render =
                reinterpret_cast<AudioUnitRenderProc>(iface->Lookup(kAudioUnitRenderSelect));
            Audio audio(out_ch_, 16);
            VELK_FUZZ_CHECK(render(nullptr, nullptr, nullptr, 0, 16, audio.list()) ==
                            kAudio_ParamError);
            break;
        }
        case 3: {
            const auto set = reinterpret_cast<AudioUnitSetParameterProc>(
                iface->Lookup(kAudioUnitSetParameterSelect));
            VELK_FUZZ_CHECK(set(nullptr, 0, 0, 0, -6.0f, 0) == kAudio_ParamError);
            const auto init = reinterpret_cast<AudioUnitInitializeProc>(
                iface->Lookup(kAudioUnitInitializeSelect));
            VELK_FUZZ_CHECK(init(nullptr) == kAudio_ParamError);
            break;
        }
        case 4: {
            static constexpr SInt16 NONE[] = {0, 8, 12, 13, 19, 256, 259, -1};
            VELK_FUZZ_CHECK(iface->Lookup(NONE[in_.u8() % std::size(NONE)]) == nullptr);
            break;
        }
        default:
            VELK_FUZZ_CHECK(unit_.set_property(kAudioUnitProperty_ClassInfo, 0, 0, nullptr, 8) ==
                            kAudioUnitErr_InvalidPropertyValue);
            break;
        }
    }

    Bytes& in_;
    AuUnit unit_;
    std::unique_ptr<AuUnit> other_;
    velk::ParamSet mirror_ =
        velk::ParamSet::with_channels(halvex::param_table(), halvex::CHANNEL_CAPACITY);
    bool initialized_ = false;
    UInt32 in_ch_ = 2;
    UInt32 out_ch_ = 2;
    Float64 rate_ = 44100.0;
    UInt32 max_frames_ = 1156;
    bool bypass_ = false;
    OSStatus last_error_ = noErr;
    SInt32 preset_number_ = -1;
    std::string preset_name_ = "Untitled";
    bool has_input_ = false;
    bool connected_ = false;
    std::vector<std::pair<std::size_t, float>> queue_;
    std::vector<std::pair<AudioUnitPropertyID, void*>> listeners_;
    std::vector<void*> notify_refs_;
    std::vector<CFPropertyListRef> saved_;
    std::vector<CFTypeRef> snapshots_; ///< objects released when the session ends
    int users_[2] = {};
    std::size_t heard_ = 0;
    std::size_t expected_heard_ = 0;
    std::size_t pre_calls_ = 0;
    std::size_t post_calls_ = 0;
    int pulls_ = 0;
    int input_mode_ = 0;
    OSStatus input_error_ = -1;
    double tempo_ = 120.0;
    std::uint32_t noise_ = 1;
    std::vector<std::vector<float>> pulled_;
};

OSStatus input_proc(void* ref, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                    UInt32 frames, AudioBufferList* list) {
    VELK_FUZZ_CHECK(ref == current);
    return current->pull(list, frames);
}

OSStatus notify_proc(void*, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*, UInt32,
                     UInt32, AudioBufferList*) {
    current->notified(flags);
    return 1; // ignored
}

void listener_proc(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    current->heard();
}

OSStatus tempo_proc(void*, Float64* beat, Float64* bpm) {
    return current->tempo(beat, bpm);
}

OSStatus transport_proc(void*, Boolean* playing, Boolean* changed, Float64* sample, Boolean* cycling,
                        Float64* start, Float64* end) {
    *playing = 1;
    *changed = 0;
    *sample = 4096.0;
    *cycling = 0;
    *start = 0.0;
    *end = 0.0;
    return noErr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in({data, size});
    Session session(in);
    for (std::size_t i = 0; i < MAX_CALLS && !in.done(); ++i)
        session.call();
    return 0;
}

#include "velk/clap/descriptor.hpp"

#include <algorithm>

namespace velk::clap {

std::string c_string(std::string_view text) {
    std::string out(text);
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
    return out;
}

Descriptor::Descriptor(const Config& config) {
    constexpr std::size_t fixed = 7;
    strings_.reserve(fixed + config.features.size());
    for (std::string_view text : {config.id, config.name, config.vendor, config.url, config.version,
                                  config.description, std::string_view{}})
        strings_.push_back(c_string(text));
    for (std::string_view feature : config.features)
        strings_.push_back(c_string(feature));

    // The strings no longer move: take their addresses only now.
    feature_ptrs_.reserve(config.features.size() + 1);
    for (std::size_t i = fixed; i < strings_.size(); ++i)
        feature_ptrs_.push_back(strings_[i].c_str());
    feature_ptrs_.push_back(nullptr);

    const char* empty = strings_[6].c_str();
    raw_ = clap_plugin_descriptor{
        .clap_version = CLAP_VERSION,
        .id = strings_[0].c_str(),
        .name = strings_[1].c_str(),
        .vendor = strings_[2].c_str(),
        .url = strings_[3].c_str(),
        .manual_url = empty,
        .support_url = empty,
        .version = strings_[4].c_str(),
        .description = strings_[5].c_str(),
        .features = feature_ptrs_.data(),
    };
}

const clap_plugin_descriptor* Registry::descriptor() {
    if (const clap_plugin_descriptor* raw = raw_.load(std::memory_order_acquire))
        return raw;
    const std::lock_guard<std::mutex> lock(build_);
    if (!owned_) {
        owned_ = std::make_unique<Descriptor>(*config_);
        raw_.store(&owned_->raw(), std::memory_order_release);
    }
    return &owned_->raw();
}

} // namespace velk::clap

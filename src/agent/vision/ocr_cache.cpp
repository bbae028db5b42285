#include "agent/vision/ocr_cache.hpp"

#include <algorithm>

#include "common/text.hpp"

namespace pavo::agent {

std::size_t ocrCacheCapacity(const std::optional<std::string>& environmentValue) {
    if (!environmentValue) return OCRCache::kDefaultCapacity;
    const auto value = common::toInteger(*environmentValue);
    if (!value || *value < 1) return OCRCache::kDefaultCapacity;
    return static_cast<std::size_t>(*value);
}

OCRCache::OCRCache(std::size_t capacity, Clock clock) : capacity_(capacity), clock_(std::move(clock)) {}

std::int64_t OCRCache::timeBucket() const {
    const auto sinceEpoch = clock_().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() / 100;
}

void OCRCache::evictOnFrontmostChange(std::optional<std::int32_t> frontmost) {
    const std::lock_guard lock(mutex_);
    if (lastFrontmostPid_ && frontmost != lastFrontmostPid_) {
        cache_.clear();
        order_.clear();
    }
    lastFrontmostPid_ = frontmost;
}

std::optional<std::vector<OCRResult>> OCRCache::get(const OCRCacheKey& key) {
    const std::lock_guard lock(mutex_);
    const auto it = cache_.find(key);
    if (it == cache_.end()) return std::nullopt;
    forget(key);
    order_.push_back(key);
    return it->second;
}

void OCRCache::set(const OCRCacheKey& key, std::vector<OCRResult> results) {
    const std::lock_guard lock(mutex_);
    if (cache_.count(key) > 0) {
        forget(key);
    } else if (cache_.size() >= capacity_ && !order_.empty()) {
        cache_.erase(order_.front());
        order_.erase(order_.begin());
    }
    cache_[key] = std::move(results);
    order_.push_back(key);
}

std::size_t OCRCache::size() const {
    const std::lock_guard lock(mutex_);
    return cache_.size();
}

void OCRCache::forget(const OCRCacheKey& key) {
    order_.erase(std::remove(order_.begin(), order_.end(), key), order_.end());
}

}  // namespace pavo::agent

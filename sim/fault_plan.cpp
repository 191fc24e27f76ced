#include "sim/fault_plan.h"

#include <charconv>

#include "platform/clock.h"

namespace sim {

using platform::IoError;
using platform::IoResult;

std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string* error) {
    FaultRule rule;
    std::string_view count = text;
    std::string_view kind;
    if (const size_t colon = text.find(':'); colon != std::string_view::npos) {
        count = text.substr(0, colon);
        kind = text.substr(colon + 1);
    }
    if (!count.empty() && count.back() == '+') {
        rule.from_k_on = true;
        count.remove_suffix(1);
    }
    const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), rule.k);
    if (count.empty() || ec != std::errc() || end != count.data() + count.size() || rule.k == 0) {
        if (error)
            *error = "bad fault \"" + std::string(text) + "\": expected K[+][:kind], K >= 1";
        return std::nullopt;
    }
    if (kind.empty() || kind == "failed") {
        rule.error = IoError::Failed;
    } else if (kind == "aborted") {
        rule.error = IoError::Aborted;
    } else if (kind == "gone") {
        rule.error = IoError::DeviceGone;
    } else {
        if (error)
            *error = "bad fault kind \"" + std::string(kind) + "\": aborted, gone or failed";
        return std::nullopt;
    }
    return rule;
}

FaultPlan::FaultPlan(std::shared_ptr<platform::Peripheral> device, FaultSettings settings,
                     std::function<void()> on_unplug)
    : device_(std::move(device)), settings_(settings), on_unplug_(std::move(on_unplug)) {}

FaultPlan::Verdict FaultPlan::Admit(bool in, IoError* error, bool* unplug_now) {
    std::lock_guard lock(mutex_);
    if (!gone_ && settings_.drop_after && transfers_ >= *settings_.drop_after)
        gone_ = true;
    if (gone_) {
        *unplug_now = !unplug_called_;
        unplug_called_ = true;
        return Verdict::Gone;
    }
    ++transfers_;
    const uint64_t n = in ? ++ins_ : ++outs_;
    const std::optional<FaultRule>& rule = in ? settings_.fail_in : settings_.fail_out;
    if (rule && rule->Matches(n)) {
        *error = rule->error;
        return Verdict::Fail;
    }
    return Verdict::Pass;
}

bool FaultPlan::AfterTransfer() {
    std::lock_guard lock(mutex_);
    if (gone_ || !settings_.drop_after || transfers_ < *settings_.drop_after)
        return false;
    gone_ = true;
    const bool first = !unplug_called_;
    unplug_called_ = true;
    return first;
}

void FaultPlan::Unplug() {
    if (on_unplug_)
        on_unplug_();
}

IoResult FaultPlan::HandleOut(platform::Endpoint endpoint, std::span<const uint8_t> data) {
    if (settings_.latency.count() > 0)
        platform::CurrentClock().Sleep(settings_.latency);
    IoError error = IoError::None;
    bool unplug_now = false;
    const Verdict verdict = Admit(false, &error, &unplug_now);
    if (unplug_now)
        Unplug();
    if (verdict == Verdict::Gone)
        return IoResult::Failure(IoError::DeviceGone);
    IoResult result =
        verdict == Verdict::Fail ? IoResult::Failure(error) : device_->HandleOut(endpoint, data);
    if (AfterTransfer())
        Unplug();
    return result;
}

IoResult FaultPlan::HandleIn(platform::Endpoint endpoint, std::span<uint8_t> buffer) {
    if (settings_.latency.count() > 0)
        platform::CurrentClock().Sleep(settings_.latency);
    IoError error = IoError::None;
    bool unplug_now = false;
    const Verdict verdict = Admit(true, &error, &unplug_now);
    if (unplug_now)
        Unplug();
    if (verdict == Verdict::Gone)
        return IoResult::Failure(IoError::DeviceGone);
    IoResult result =
        verdict == Verdict::Fail ? IoResult::Failure(error) : device_->HandleIn(endpoint, buffer);
    if (AfterTransfer())
        Unplug();
    return result;
}

bool FaultPlan::unplugged() const {
    std::lock_guard lock(mutex_);
    return gone_;
}

uint64_t FaultPlan::transfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

}  // namespace sim

#include "error/vorn_error.hpp"

namespace vorn {
namespace {

// Fixed by the public contract, "Router configuration error" included.
std::string_view display_prefix(VornError::Kind kind) noexcept {
    switch (kind) {
        case VornError::Kind::AlgorithmError: return "Algorithm error: ";
        case VornError::Kind::PreprocessingError: return "Preprocessing error: ";
        case VornError::Kind::RouterConfigError: return "Router configuration error: ";
    }
    return {};
}

}  // namespace

std::string VornError::display() const {
    std::string text(display_prefix(kind_));
    text += message_;
    return text;
}

}  // namespace vorn

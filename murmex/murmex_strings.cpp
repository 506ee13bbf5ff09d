#include "murmex_strings.h"

#include <QCoreApplication>

#include <map>
#include <string_view>

namespace murmex {

namespace {

const std::map<std::string_view, const char*> defaults{
    {"murmex.feedback.title", "Send Feedback"},
    {"murmex.feedback.category", "Category"},
    {"murmex.feedback.category.none", "None"},
    {"murmex.feedback.email.placeholder", "Email (optional)"},
    {"murmex.feedback.message.placeholder", "Your feedback…"},
    {"murmex.feedback.message.accessibilityLabel", "Feedback"},
    {"murmex.feedback.send", "Send"},
    {"murmex.feedback.error.encoding", "Failed to prepare feedback. Please try again."},
    {"murmex.success.message", "Thanks, we heard you."},
    {"murmex.success.done", "Done"},
    {"murmex.error.network", "Network error. Please check your connection and try again."},
    {"murmex.error.server", "Server error (%1). Please try again later."},
    {"murmex.error.insecure", "Feedback can only be sent over a secure connection."},
    {"murmex.survey.defaultTitle", "Quick Survey"},
    {"murmex.survey.text.placeholder", "Optional"},
    {"murmex.survey.submit", "Submit"},
    {"murmex.survey.error.encoding", "Failed to send survey. Please try again."},
    {"murmex.survey.required.accessibilityLabel", "Required"},
    {"murmex.category.general", "General"},
    {"murmex.category.bug", "Bug Report"},
    {"murmex.category.featureRequest", "Feature Request"},
    {"murmex.category.other", "Other"},
};

}  // namespace

QString MurmexStrings::text(const char* key)
{
    const QString translated = QCoreApplication::translate("Murmex", key);
    if (translated != QLatin1String(key))
        return translated;
    const auto found = defaults.find(key);
    return found == defaults.end() ? QString() : QString::fromUtf8(found->second);
}

QString MurmexStrings::serverError(int status)
{
    return text("murmex.error.server").arg(status);
}

QString MurmexStrings::failure(const std::exception& error, const char* encodingKey)
{
    if (const auto* failure = dynamic_cast<const MurmexError*>(&error)) {
        switch (failure->errorCase()) {
        case MurmexError::Case::networkError:
            return text("murmex.error.network");
        case MurmexError::Case::badResponse:
            return serverError(failure->status());
        case MurmexError::Case::encodingError:
            return text(encodingKey);
        case MurmexError::Case::insecureEndpoint:
            return text("murmex.error.insecure");
        case MurmexError::Case::notConfigured:
        case MurmexError::Case::cancelled:
            break;
        }
    }
    return QString::fromUtf8(error.what());
}

QString MurmexStrings::category(MurmexCategory category)
{
    return text(("murmex.category." + rawValue(category).toStdString()).c_str());
}

}  // namespace murmex

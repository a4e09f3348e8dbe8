#pragma once

#include <QString>

// The two sounds the inspector plays for the passenger and the technician: a success and a
// refusal.
namespace tones {

const QString Valid = QStringLiteral("/opt/orvo/tessivo/Valid.wav");
const QString Invalid = QStringLiteral("/opt/orvo/tessivo/Invalid.wav");

} // namespace tones

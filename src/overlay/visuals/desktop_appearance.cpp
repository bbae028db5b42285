#include "overlay/visuals/desktop_appearance.hpp"

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QSettings>

namespace pavo::overlay {

QColor systemRed() {
    return QColor(255, 59, 48);
}

EffectStyle desktopEffectStyle() {
    const QPalette palette = QGuiApplication::palette();
    QFont chordFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    chordFont.setPixelSize(14);
    chordFont.setWeight(QFont::Medium);
    // The shadow role is meant to be very dark (black by default), but Fusion's is mid grey, under which
    // the pill's white text would not read.
    QColor shadow = palette.color(QPalette::Shadow);
    if (shadow.lightness() > 64) shadow = Qt::black;
    return EffectStyle{palette.color(QPalette::Highlight), systemRed(), shadow, chordFont};
}

bool animationsDisabledIn(const QString& settingsFile) {
    const QSettings settings(settingsFile, QSettings::IniFormat);
    const QVariant value = settings.value(QStringLiteral("Settings/gtk-enable-animations"));
    if (!value.isValid()) return false;
    const QString text = value.toString().trimmed().toLower();
    return text == QLatin1String("false") || text == QLatin1String("0") || text == QLatin1String("no");
}

bool desktopWantsReducedMotion() {
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty()) configHome = QDir::homePath() + QStringLiteral("/.config");
    return animationsDisabledIn(configHome + QStringLiteral("/gtk-3.0/settings.ini"));
}

}  // namespace pavo::overlay

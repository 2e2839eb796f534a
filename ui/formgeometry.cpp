#include "formgeometry.h"

#include <QGuiApplication>
#include <QLayout>
#include <QSpacerItem>
#include <QWidget>

#include <cmath>

namespace {

// The resolution the form's pixel sizes were laid out for.
constexpr qreal kReferenceDpi = 96.0;
// Steps of a quarter: a few dpi more or less (the offscreen platform reports
// 100) leave the form's own geometry exactly as it is.
constexpr qreal kScaleSteps = 4.0;

int scaled(int pixels, qreal factor)
{
    return pixels > 0 ? qRound(pixels * factor) : pixels;
}

void scaleLayout(QLayout *layout, qreal factor)
{
    if (layout->spacing() > 0)
        layout->setSpacing(scaled(layout->spacing(), factor));
    const QMargins m = layout->contentsMargins();
    layout->setContentsMargins(scaled(m.left(), factor), scaled(m.top(), factor),
                               scaled(m.right(), factor), scaled(m.bottom(), factor));
    for (int i = 0; i < layout->count(); ++i) {
        QSpacerItem *spacer = layout->itemAt(i)->spacerItem();
        if (!spacer)
            continue;
        const QSize hint = spacer->sizeHint();
        const QSizePolicy policy = spacer->sizePolicy();
        spacer->changeSize(scaled(hint.width(), factor), scaled(hint.height(), factor),
                           policy.horizontalPolicy(), policy.verticalPolicy());
    }
    layout->invalidate();
}

// The form's own widgets and layouts carry object names; the ones Qt makes
// inside its widgets (tab bars, stacks) are named "qt_..." or not at all and
// keep their geometry.
bool isFormObject(const QObject *object)
{
    const QString name = object->objectName();
    return !name.isEmpty() && !name.startsWith(QLatin1String("qt_"));
}

} // namespace

void enableHighDpiScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::RoundPreferFloor);
}

qreal remainingTextScale(const QWidget *widget)
{
    const qreal ratio = widget->logicalDpiY() / kReferenceDpi;
    const qreal stepped = std::round(ratio * kScaleSteps) / kScaleSteps;
    return stepped > 1.0 ? stepped : 1.0;
}

void scaleFormGeometry(QWidget *window, qreal factor)
{
    if (factor == 1.0)
        return;
    for (QLayout *layout : window->findChildren<QLayout *>()) {
        if (isFormObject(layout))
            scaleLayout(layout, factor);
    }
    for (QWidget *child : window->findChildren<QWidget *>()) {
        const QSize minimum = child->minimumSize();
        if (isFormObject(child) && !minimum.isNull())
            child->setMinimumSize(scaled(minimum.width(), factor),
                                  scaled(minimum.height(), factor));
    }
    window->resize(scaled(window->width(), factor), scaled(window->height(), factor));
}

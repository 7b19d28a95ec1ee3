#include "MachineProfileDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

#include <cmath>

namespace {

const char *const kTravelNames[3][2] = {{"xMin", "xMax"}, {"yMin", "yMax"}, {"zMin", "zMax"}};

// Empty: unknown. Otherwise a finite number, in this locale or in C's.
bool parseNumber(const QString &typed, std::optional<double> *value)
{
    const QString trimmed = typed.trimmed();
    if (trimmed.isEmpty()) {
        value->reset();
        return true;
    }
    bool ok = false;
    double number = QLocale().toDouble(trimmed, &ok);
    if (!ok)
        number = QLocale::c().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(number))
        return false;
    *value = number;
    return true;
}

} // namespace

MachineProfileDialog::MachineProfileDialog(const QString &controller, const MachineProfile &profile,
                                           bool english, QWidget *parent)
    : QDialog(parent), m_english(english), m_profile(profile)
{
    setObjectName(QStringLiteral("machineProfileDialog"));
    setWindowTitle(text(QStringLiteral("Machine Profile of %1"), QStringLiteral("%1 的机床参数"))
                       .arg(controller));
    auto *form = new QFormLayout;
    const char *const axes = "XYZ";
    for (int axis = 0; axis < 3; ++axis) {
        const std::optional<AxisTravel> &travel = profile.travel[axis];
        auto *row = new QHBoxLayout;
        for (int end = 0; end < 2; ++end) {
            m_travel[axis][end] =
                addField(kTravelNames[axis][end],
                         travel ? std::optional<double>(end == 0 ? travel->min : travel->max)
                                : std::nullopt);
            row->addWidget(m_travel[axis][end]);
        }
        form->addRow(text(QStringLiteral("%1 travel, min and max (mm):"),
                          QStringLiteral("%1 行程，最小和最大 (mm):"))
                         .arg(QLatin1Char(axes[axis])),
                     row);
    }
    m_maxFeedRate = addField("maxFeedRate", profile.maxFeedRate);
    form->addRow(text(QStringLiteral("Maximum feed rate (mm/min):"),
                      QStringLiteral("最大进给速度 (mm/min):")),
                 m_maxFeedRate);
    m_rapidRate = addField("rapidRate", profile.rapidRate);
    form->addRow(text(QStringLiteral("Rapid rate (mm/min):"), QStringLiteral("快移速度 (mm/min):")),
                 m_rapidRate);
    m_acceleration = addField("acceleration", profile.acceleration);
    form->addRow(text(QStringLiteral("Acceleration (mm/s²):"), QStringLiteral("加速度 (mm/s²):")),
                 m_acceleration);
    m_junctionSpeed = addField("junctionSpeed", profile.junctionSpeed);
    form->addRow(text(QStringLiteral("Speed kept between moves (mm/min):"),
                      QStringLiteral("段间保持速度 (mm/min):")),
                 m_junctionSpeed);
    m_units = new QComboBox(this);
    m_units->setObjectName(QStringLiteral("units"));
    m_units->addItem(text(QStringLiteral("Not known"), QStringLiteral("未知")));
    m_units->addItem(text(QStringLiteral("Millimetres (G21)"), QStringLiteral("毫米 (G21)")));
    m_units->addItem(text(QStringLiteral("Inches (G20)"), QStringLiteral("英寸 (G20)")));
    m_units->setCurrentIndex(!profile.units                                  ? 0
                             : *profile.units == MachineProfile::Units::Inch ? 2
                                                                             : 1);
    form->addRow(
        text(QStringLiteral("Units the controller runs in:"), QStringLiteral("控制器使用的单位:")),
        m_units);

    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("profileError"));
    m_error->setStyleSheet(QStringLiteral("color: #c00000;"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &MachineProfileDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &MachineProfileDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(text(QStringLiteral("Leave a field empty where it is not known."),
                                      QStringLiteral("未知的项目请留空。")),
                                 this));
    layout->addLayout(form);
    layout->addWidget(m_error);
    layout->addWidget(buttons);
}

QLineEdit *MachineProfileDialog::addField(const char *objectName, std::optional<double> value)
{
    auto *field = new QLineEdit(this);
    field->setObjectName(QLatin1String(objectName));
    if (value)
        field->setText(QLocale::c().toString(*value, 'g', 12));
    return field;
}

std::optional<MachineProfile> MachineProfileDialog::read(QString *error) const
{
    const auto number = [&](QLineEdit *field, std::optional<double> *value) {
        if (parseNumber(field->text(), value))
            return true;
        *error = text(QStringLiteral("\"%1\" is not a number."), QStringLiteral("“%1”不是数字。"))
                     .arg(field->text().trimmed());
        field->setFocus();
        return false;
    };
    MachineProfile profile;
    const char *const axes = "XYZ";
    for (int axis = 0; axis < 3; ++axis) {
        std::optional<double> min, max;
        if (!number(m_travel[axis][0], &min) || !number(m_travel[axis][1], &max))
            return std::nullopt;
        if (!min && !max)
            continue;
        if (!min || !max || *min > *max) {
            *error = text(QStringLiteral("The %1 travel needs a minimum no larger than its "
                                         "maximum."),
                          QStringLiteral("%1 行程需要不大于最大值的最小值。"))
                         .arg(QLatin1Char(axes[axis]));
            return std::nullopt;
        }
        profile.travel[axis] = AxisTravel{*min, *max};
    }
    const std::pair<QLineEdit *, std::optional<double> MachineProfile::*> rates[] = {
        {m_maxFeedRate, &MachineProfile::maxFeedRate},
        {m_rapidRate, &MachineProfile::rapidRate},
        {m_acceleration, &MachineProfile::acceleration},
    };
    for (const auto &[field, member] : rates) {
        if (!number(field, &(profile.*member)))
            return std::nullopt;
        if (profile.*member && *(profile.*member) <= 0) {
            *error = text(QStringLiteral("Rates and the acceleration must be above zero."),
                          QStringLiteral("速度和加速度必须大于零。"));
            return std::nullopt;
        }
    }
    if (!number(m_junctionSpeed, &profile.junctionSpeed))
        return std::nullopt;
    if (profile.junctionSpeed && *profile.junctionSpeed < 0) {
        *error = text(QStringLiteral("The speed kept between moves cannot be below zero."),
                      QStringLiteral("段间保持速度不能小于零。"));
        return std::nullopt;
    }
    if (m_units->currentIndex() > 0)
        profile.units = m_units->currentIndex() == 2 ? MachineProfile::Units::Inch
                                                     : MachineProfile::Units::Millimetre;
    return profile;
}

void MachineProfileDialog::accept()
{
    QString error;
    const std::optional<MachineProfile> profile = read(&error);
    if (!profile) {
        m_error->setText(error);
        return;
    }
    m_profile = *profile;
    QDialog::accept();
}

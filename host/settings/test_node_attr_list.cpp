#include "host/settings/test_node_attr_list.h"

#include "widgetkit/sys_combo_box.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_text_edit.h"

#include <QDoubleValidator>
#include <QHeaderView>
#include <QIntValidator>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QTextDocument>
#include <QtMath>

#include <memory>
#include <vector>

namespace {

const double kLimit = 1e9;
// Lines of a description shown at once; a longer one scrolls.
const int kDescLines = 3;
// Room between a label and its editor.
const int kLabelGap = 8;

// The text as an integer; a decimal text is cut to its integer part, anything else is 0.
int toInteger(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (ok)
        return value;
    const double d = text.trimmed().toDouble(&ok);
    return ok ? static_cast<int>(qBound(-kLimit, d, kLimit)) : 0;
}

double toReal(const QString &text)
{
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    return ok && qIsFinite(d) ? d : 0.0;
}

// Qt's range validators let a number beyond a limit stand as "intermediate" while it is no
// longer than the limit. Typing more digits only moves a number further from zero, so a number
// above a non-negative upper limit or below a non-positive lower limit can never become valid:
// these refuse it, and the editor rejects the keystroke.
bool hopeless(double value, double bottom, double top)
{
    return (value > top && top >= 0) || (value < bottom && bottom <= 0);
}

template <typename Base> class StrictRangeValidator : public Base
{
public:
    using Base::Base;
    QValidator::State validate(QString &input, int &pos) const override
    {
        const QValidator::State state = Base::validate(input, pos);
        bool ok = false;
        const double value = QLocale::c().toDouble(input, &ok);
        return state == QValidator::Intermediate && ok && hopeless(value, this->bottom(), this->top())
            ? QValidator::Invalid
            : state;
    }
};

QDoubleValidator *realValidator(double bottom, double top, QObject *parent)
{
    auto *v = new StrictRangeValidator<QDoubleValidator>(bottom, top, 2, parent);
    v->setNotation(QDoubleValidator::StandardNotation);
    v->setLocale(QLocale::c()); // "1.50" in every locale, as the file stores it
    return v;
}

QIntValidator *intValidator(int bottom, int top, QObject *parent)
{
    auto *v = new StrictRangeValidator<QIntValidator>(bottom, top, parent);
    v->setLocale(QLocale::c());
    return v;
}

} // namespace

TestNodeAttrList::TestNodeAttrList(TextFn text, const QString &langCode, QWidget *parent)
    : SysAttrList(parent), m_text(std::move(text)), m_langCode(langCode)
{
    registerTestNodeDataType();
    auto t = [this](const char *key) { return m_text ? m_text(QLatin1String(key)) : QString(); };

    m_nodeType = makeCombo({t("setting/nodeType/root"), t("setting/nodeType/folder"), t("setting/nodeType/item")});
    m_nodeType->setEnabled(false); // the node type follows from where the node is
    m_name = makeEdit();
    m_paramName = makeEdit();
    // Letters and digits only, so that "/"-separated paths stay unambiguous.
    m_paramName->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^[A-Za-z0-9]+$")), m_paramName));
    m_type = makeCombo({t("setting/dataType/bool"), t("setting/dataType/number"),
                        t("setting/dataType/float"), t("setting/dataType/string")});
    m_value = makeEdit();
    m_bool = makeCombo(t("setting/nodeAttr/paramValueBool").split(QLatin1Char('/')));
    m_up = makeEdit();
    m_down = makeEdit();
    m_desc = new SysTextEdit(this);
    m_desc->setAcceptRichText(false);
    m_desc->setTabChangesFocus(true); // Tab moves on as in the other rows
    m_desc->setBorderRadius(0.625);

    const char *labels[RowCount] = {"setting/nodeAttr/nodeType", "setting/nodeAttr/nodeName",
                                    "setting/nodeAttr/paramName", "setting/nodeAttr/paramType",
                                    "setting/nodeAttr/paramValue", "setting/nodeAttr/paramValue",
                                    "setting/nodeAttr/paramLimit/up", "setting/nodeAttr/paramLimit/down",
                                    "setting/nodeAttr/desc"};
    QWidget *editors[RowCount] = {m_nodeType, m_name, m_paramName, m_type, m_value,
                                  m_bool, m_up, m_down, m_desc};
    for (int row = 0; row < RowCount; ++row) {
        m_editors[row] = editors[row];
        addRow(t(labels[row]), editors[row]);
    }
    horizontalHeader()->setStretchLastSection(true);
    fitLabelColumn();
    fitDescRow();
    for (int row = ParamTypeRow; row <= DownLimitRow; ++row)
        setRowHidden(row, true);
    fitHeight();

    for (SysLineEdit *edit : {m_name, m_paramName, m_value, m_up, m_down})
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { onEdited(edit); });
    connect(m_desc, &QTextEdit::textChanged, this, &TestNodeAttrList::rebuildAndEmit);
    connect(m_type, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TestNodeAttrList::onTypeChanged);
    connect(m_bool, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TestNodeAttrList::rebuildAndEmit);
}

SysComboBox *TestNodeAttrList::makeCombo(const QStringList &items)
{
    auto *box = new SysComboBox(this, items);
    box->setBorderRadius(0);
    box->setBorderWidth(0);
    box->setThemeColor(QStringLiteral("#409eff"));
    return box;
}

SysLineEdit *TestNodeAttrList::makeEdit()
{
    return new SysLineEdit(this);
}

void TestNodeAttrList::setValidator(QLineEdit *edit, QValidator *validator)
{
    // Validators are parented to their edit; the replaced one goes.
    const QValidator *old = edit->validator();
    edit->setValidator(validator);
    delete old;
}

void TestNodeAttrList::showRecord(const TEST_NODE_DATA &record, int settingKind)
{
    const QSignalBlocker self(this);
    std::vector<std::unique_ptr<QSignalBlocker>> blockers;
    for (QWidget *editor : m_editors)
        blockers.push_back(std::make_unique<QSignalBlocker>(editor));

    m_record = record;
    m_nodeType->setCurrentIndex(record.nodeType);
    m_name->setText(record.name.display(m_langCode));
    m_paramName->setText(record.paramName);
    m_desc->setPlainText(record.desc.display(m_langCode));
    const bool editable = record.nodeType != NodeRoot; // the root is not stored in the file
    for (SysLineEdit *edit : {m_name, m_paramName})
        edit->setReadOnly(!editable);
    m_desc->setReadOnly(!editable);

    m_typeRowsShown = record.nodeType == NodeItem || (record.nodeType == NodeFolder && settingKind == KindFolderType);
    if (!m_typeRowsShown) {
        for (int row = ParamTypeRow; row <= DownLimitRow; ++row)
            setRowHidden(row, true);
        fitHeight();
        return;
    }
    const int type = qBound(0, record.paramType, int(DataString));
    showTypeRows(type);
    m_type->setCurrentIndex(type);
    // The stored texts are shown as they are; only a change of type reformats them.
    m_value->setText(record.paramValue);
    m_up->setText(record.paramUpLimit);
    m_down->setText(record.paramDownLimit);
    m_bool->setCurrentIndex(record.paramValue == QLatin1String("true") ? 0 : 1);
    rebuildValueValidator();
    // A long text reads from its start, not from where setText left the cursor.
    for (SysLineEdit *edit : {m_name, m_paramName, m_value, m_up, m_down})
        edit->setCursorPosition(0);
}

void TestNodeAttrList::showTypeRows(int type)
{
    setRowHidden(ParamTypeRow, false);
    setRowHidden(BoolValueRow, type != DataBool);
    setRowHidden(ValueRow, type == DataBool);
    setRowHidden(UpLimitRow, type != DataNumber && type != DataFloat);
    setRowHidden(DownLimitRow, type != DataNumber && type != DataFloat);
    fitHeight();

    const QSignalBlocker b1(m_value), b2(m_up), b3(m_down);
    if (type == DataNumber) {
        for (SysLineEdit *edit : {m_value, m_up, m_down})
            edit->setText(QString::asprintf("%d", toInteger(edit->text())));
        setValidator(m_up, intValidator(int(-kLimit), int(kLimit), m_up));
        setValidator(m_down, intValidator(int(-kLimit), int(kLimit), m_down));
    } else if (type == DataFloat) {
        for (SysLineEdit *edit : {m_value, m_up, m_down})
            edit->setText(QString::asprintf("%.2f", toReal(edit->text())));
        setValidator(m_up, realValidator(-kLimit, kLimit, m_up));
        setValidator(m_down, realValidator(-kLimit, kLimit, m_down));
    } else {
        setValidator(m_value, nullptr);
        setValidator(m_up, nullptr);
        setValidator(m_down, nullptr);
        return;
    }
    rebuildValueValidator();
}

void TestNodeAttrList::fitHeight()
{
    int height = 2 * frameWidth();
    for (int row = 0; row < rowCount(); ++row) {
        if (!isRowHidden(row))
            height += rowHeight(row);
    }
    setFixedHeight(height);
}

void TestNodeAttrList::fitLabelColumn()
{
    ensurePolished(); // the font comes from the style sheet
    const QStyleOptionViewItem option = viewOptions();
    int width = 0;
    for (int row = 0; row < rowCount(); ++row)
        width = qMax(width, itemDelegate()->sizeHint(option, model()->index(row, 0)).width());
    horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    horizontalHeader()->resizeSection(0, width + kLabelGap);
}

void TestNodeAttrList::fitDescRow()
{
    m_desc->ensurePolished();
    // The height of a few lines as the field lays them out, plus its frame and padding.
    QTextDocument probe;
    probe.setDefaultFont(m_desc->font());
    probe.setDocumentMargin(m_desc->document()->documentMargin());
    probe.setPlainText(QString(kDescLines - 1, QLatin1Char('\n')));
    const int chrome = m_desc->height() - m_desc->contentsRect().height();
    const int height = qCeil(probe.size().height()) + chrome;
    setRowHeight(DescRow, qMax(height, m_desc->minimumHeight()));
}

void TestNodeAttrList::rebuildValueValidator()
{
    if (!m_typeRowsShown)
        return;
    const int type = m_type->currentIndex();
    if (type == DataNumber)
        setValidator(m_value, intValidator(toInteger(m_down->text()), toInteger(m_up->text()), m_value));
    else if (type == DataFloat)
        setValidator(m_value, realValidator(toReal(m_down->text()), toReal(m_up->text()), m_value));
}

void TestNodeAttrList::onTypeChanged()
{
    if (m_typeRowsShown)
        showTypeRows(m_type->currentIndex());
    rebuildAndEmit();
}

void TestNodeAttrList::onEdited(QLineEdit *edit)
{
    if (edit == m_up || edit == m_down)
        rebuildValueValidator();
    rebuildAndEmit();
}

void TestNodeAttrList::rebuildAndEmit()
{
    TEST_NODE_DATA r = m_record;
    r.nodeType = m_nodeType->currentIndex();
    // A name or description shown from the "zh" fallback is stored for this language only
    // once the user changes it.
    const QString code = m_langCode.isEmpty() ? QStringLiteral("zh") : m_langCode;
    auto store = [&](LangText &text, const QString &shown) {
        if (text.entries().contains(code) || shown != text.display(m_langCode))
            text.set(m_langCode, shown);
    };
    store(r.name, m_name->text().trimmed());
    store(r.desc, m_desc->toPlainText().trimmed());
    r.paramName = m_paramName->text().trimmed();
    if (m_typeRowsShown) {
        r.paramType = m_type->currentIndex();
        if (r.paramType == DataBool)
            r.paramValue = m_bool->currentIndex() == 0 ? QStringLiteral("true") : QStringLiteral("false");
        else
            r.paramValue = m_value->text().trimmed();
        r.paramUpLimit = m_up->text().trimmed();
        r.paramDownLimit = m_down->text().trimmed();
    }
    m_record = r;
    emit nodeDataChanged(r);
}

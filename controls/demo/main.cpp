// A small window that hosts an IP address box, so that a person can try it: type into the
// box, read its Address, assign a new one, and see what the box reports.

#include <controls/ipbox.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace {

class DemoWindow : public QWidget
{
public:
    DemoWindow()
    {
        setWindowTitle(QStringLiteral("IP address box"));

        m_box = new Controls::ipBox(this);
        m_box->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

        m_readButton = new QPushButton(QStringLiteral("Read Address"), this);
        m_readResult = new QLineEdit(this);
        m_readResult->setReadOnly(true);

        m_newAddress = new QLineEdit(this);
        m_newAddress->setPlaceholderText(QStringLiteral("e.g. 10.0.0.250"));
        auto *assignButton = new QPushButton(QStringLiteral("Assign"), this);
        m_dotCount = new QLabel(this);
        m_status = new QLabel(this);
        m_status->setWordWrap(true);
        m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

        auto *form = new QFormLayout;
        form->addRow(QStringLiteral("IP address box:"), m_box);
        auto *readRow = new QHBoxLayout;
        readRow->addWidget(m_readButton);
        readRow->addWidget(m_readResult, 1);
        form->addRow(QStringLiteral("Address:"), readRow);
        auto *assignRow = new QHBoxLayout;
        assignRow->addWidget(m_newAddress, 1);
        assignRow->addWidget(assignButton);
        form->addRow(QStringLiteral("New address:"), assignRow);
        form->addRow(QStringLiteral("Dots counted:"), m_dotCount);
        form->addRow(QStringLiteral("Result:"), m_status);

        auto *layout = new QVBoxLayout(this);
        layout->addLayout(form);
        layout->addStretch(1);

        connect(m_readButton, &QPushButton::clicked, this, [this] {
            m_readResult->setText(m_box->Address());
        });
        connect(assignButton, &QPushButton::clicked, this, &DemoWindow::assign);
        connect(m_newAddress, &QLineEdit::returnPressed, this, &DemoWindow::assign);
        connect(m_newAddress, &QLineEdit::textChanged, this, &DemoWindow::countDots);
        countDots();
        resize(420, 200);
    }

    void readAddress() { m_readButton->click(); }

private:
    void assign()
    {
        // The box reports a bad address by throwing; the window is the one that tells the user.
        try {
            m_box->setAddress(m_newAddress->text());
            m_status->setText(
                    QStringLiteral("Assigned; the box now reads %1.").arg(m_box->Address()));
        } catch (const Controls::IpBoxError &error) {
            m_status->setText(
                    QStringLiteral("Error %1: %2").arg(error.number()).arg(error.description()));
        }
    }

    void countDots()
    {
        try {
            m_dotCount->setText(QString::number(
                    Controls::ipBox::CountIF(m_newAddress->text(), QStringLiteral("."))));
        } catch (const Controls::IpBoxError &error) {
            m_dotCount->setText(
                    QStringLiteral("Error %1: %2").arg(error.number()).arg(error.description()));
        }
    }

    Controls::ipBox *m_box = nullptr;
    QPushButton *m_readButton = nullptr;
    QLineEdit *m_readResult = nullptr;
    QLineEdit *m_newAddress = nullptr;
    QLabel *m_dotCount = nullptr;
    QLabel *m_status = nullptr;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Try the IP address box."));
    parser.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a picture of the window to <file> "
                                                       "after reading the address, then quit."),
                                        QStringLiteral("file"));
    parser.addOption(screenshot);
    parser.process(app);

    DemoWindow window;
    window.show();

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        window.readAddress();
        QTimer::singleShot(500, &window, [&window, file] {
            if (!window.grab().save(file)) {
                std::fprintf(stderr, "Cannot save the picture to %s\n", qPrintable(file));
                QCoreApplication::exit(1);
                return;
            }
            QCoreApplication::quit();
        });
    }
    return app.exec();
}

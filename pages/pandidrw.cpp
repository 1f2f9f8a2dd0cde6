#include "pages/pandidrw.h"

// Placeholder for the address page: it receives the answers that arrive
// while monitoring is off; its commands come with the address page itself.
PAndIdRW::PAndIdRW(QWidget *parent) : QWidget(parent), txFrame(20, '\0')
{
    setObjectName(QStringLiteral("PAndIdRW"));
    connect(this, &PAndIdRW::languageSwich, this, &PAndIdRW::languageChange);
}

void PAndIdRW::handleAnswer(const QByteArray &frame) { m_lastAnswer = frame; }

void PAndIdRW::languageChange() {}

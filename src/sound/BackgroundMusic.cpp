#include "BackgroundMusic.h"

#include "MediaPlayer.h"

BackgroundMusic::BackgroundMusic(QString tunePath, QObject *parent)
    : QObject(parent)
    , m_tunePath(std::move(tunePath))
    , m_player(new MediaPlayer(this))
{
    m_player->setObjectName(QStringLiteral("W1"));
}

void BackgroundMusic::start()
{
    m_player->setSource(m_tunePath);
}

void BackgroundMusic::toggle()
{
    m_on = !m_on;
    m_player->setSource(m_on ? m_tunePath : QString());
}

void BackgroundMusic::stop()
{
    m_player->setSource(QString());
}

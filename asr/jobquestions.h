#pragma once

#include <QString>

#include <functional>

// What a job asks the person who started it. The front end answers: the window with its
// dialog, shown once the step that asked has returned; the command line from its options, at
// once. The job waits for the answer without a loop of its own, and an answer that comes after
// the job stopped is dropped.
class JobQuestions
{
public:
    virtual ~JobQuestions() = default;
    // A ".pcm" file is about to be read as 16 kHz mono samples: answer(true) goes on,
    // answer(false) ends the job without a message.
    virtual void askRawPcm(const QString &file, std::function<void(bool goOn)> answer) = 0;
};

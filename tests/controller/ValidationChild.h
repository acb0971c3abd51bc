#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

// The isolated validation mode is fixed per process from its arguments, so a case checks it in a child run
// of this same test program: started with the flag, `validationDir` as its private directory, and only the
// cases `filter` names, which must pass rather than skip.
inline void expectValidationChildPasses(const QString& filter, const QString& validationDir,
                                        const QProcessEnvironment& extra = {}) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extra);
    environment.insert(QStringLiteral("SENVIK_CONNECTOR_VALIDATION_DIR"), validationDir);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=") + filter, QStringLiteral("--isolated-validation")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    EXPECT_FALSE(output.contains("SKIPPED")) << output.toStdString();
}

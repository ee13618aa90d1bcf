#pragma once

#include <QMainWindow>

// The application's one window. Closing it only hides it; the application and its server keep running.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
};

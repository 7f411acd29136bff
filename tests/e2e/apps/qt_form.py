#!/usr/bin/env python3
"""A PyQt5 form for the end-to-end tests; its window title holds the
password's length, and the button and the menu's Save open a "Save changes?"
box."""

import sys

from PyQt5.QtWidgets import (QApplication, QComboBox, QFormLayout, QLineEdit, QMenuBar,
                             QMessageBox, QPushButton, QWidget)


def ask_to_save(form, combo):
    print("pressed", flush=True)
    box = QMessageBox(QMessageBox.Question, "Form", "Save changes?",
                      QMessageBox.Save | QMessageBox.Discard | QMessageBox.Cancel, form)
    box.setDefaultButton(QMessageBox.Save)
    choice = box.exec_()
    print("answer", {QMessageBox.Save: "Save", QMessageBox.Discard: "Discard"}
          .get(choice, "Cancel"), flush=True)
    combo.setFocus()


app = QApplication(sys.argv)
app.setApplicationName("qt-form")
app.setDesktopFileName("org.focusctl.QtForm")
form = QWidget()
form.setWindowTitle("Qt form 7")
layout = QFormLayout(form)
combo = QComboBox()
combo.setEditable(True)
combo.addItems(["needle", "thread"])
combo.setAccessibleDescription("Word to look for")
layout.addRow("Find", combo)
email = QLineEdit()
email.setPlaceholderText("you@example.com")
layout.addRow(email)
secret = QLineEdit("1234567")
secret.setEchoMode(QLineEdit.Password)
# The title shows the password's length, never the password.
secret.textChanged.connect(lambda text: form.setWindowTitle(f"Qt form {len(text)}"))
layout.addRow("Password", secret)
button = QPushButton("Send")
button.clicked.connect(lambda: ask_to_save(form, combo))
layout.addRow(button)
menus = QMenuBar()
menus.addMenu("&File").addAction("Save").triggered.connect(lambda: ask_to_save(form, combo))
layout.setMenuBar(menus)
form.show()
form.activateWindow()
(button if sys.argv[1:] == ["button"] else combo).setFocus()
sys.exit(app.exec_())


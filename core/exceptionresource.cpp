#include "core/exceptionresource.h"

ExceptionResource::ExceptionResource(QObject *parent)
    : QObject(parent)
{
    // Each English message thrown anywhere, in catalogue order. The results are
    // not kept: the calls exist so that lupdate lists the texts in this
    // context, where VexException looks up their translations.
    tr("Morlan crc error!");
    tr("Commit failed!");
    tr("Communication send failed!");
    tr("create database error!");
    tr("Response crc error!");
    tr("Morlan response exception!");
    tr("Morlan no response!");
    tr("Morlan response overtime!");
    tr("Loft Number is empty!");
    tr("Save pigeon failed!");
    tr("Delete pigeon failed!");
    tr("Update pigeon failed!");
    tr("Pigeon not exists!");
    tr("Index overflow!");
    tr("Please insert SD card!");
    tr("Save to sd card failed!");
    tr("Ack file crashed!");
    tr("Ack file format error!");
    tr("Ack file dimatch!");
    tr("Ack file not found!");
    tr("Semaphore timeout!");
    tr("Gps not exists!");
    tr("Gps module open failed!");
    tr("GSM open port error!");
    tr("GSM exit!");
    tr("GSM response timeout!");
    tr("GSM response ERROR!");
    tr("GSM no OK response!");
    tr("GSM response error!");
    tr("GSM receive timeout!");
    tr("GSM response error:");
    tr("GSM not exists!");
    tr("GSM read byte timeout!");
    tr("HTTP protocol error!");
    tr("HTTP post error!");
    tr("Response format error!");
    tr("Send record failed!");
    tr("Open port failed!");
    tr("Write data error!");
    tr("Packet parameters error!");
    tr("Packet format error!");
    tr("Nothing received!");
    tr("STB error!");
    tr("Data not received!");
    tr("Data format error!");
    tr("Comm buffer out!");
    tr("RF Port Invalid!");
    tr("RF Port open failed!");
    tr("Response packet format error!");
    tr("Response error!");
    tr("Response length error!");
    tr("Do command error!");
    tr("unknow error");
    tr("read fdx error!");
    tr("read id64 error!");
    tr("active HitagS error!");
    tr("read HitagS page error!");
    tr("write HitagS page error!");
    tr("error morlan cmd received!");
    tr("error morlan cmd!");
    tr("Club clock unauthorized!");
    tr("Morlan unknown exception!");
    tr("Set random failed!");
    tr("Print failed!error=");
    tr("Read time failed!");
    tr("Set time failed!");
}

-- The demonstration database that "pellwick -install" creates as DADIvav.db.
CREATE TABLE smsout(msgid INTEGER PRIMARY KEY, phone TEXT, msgbody TEXT, status INTEGER NOT NULL DEFAULT 0);
-- Every poll counts and reads the waiting rows: an index on them alone keeps that cheap.
CREATE INDEX smsout_waiting ON smsout(msgid) WHERE status = 0;
CREATE TABLE smsin(phone TEXT, msgbody TEXT, rectime TIMESTAMP, UNIQUE(phone, rectime, msgbody));

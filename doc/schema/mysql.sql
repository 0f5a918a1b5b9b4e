-- Outbox and inbox for MySQL 5.7 and later, and MariaDB 10.2 and later. A message
-- received twice hits the unique key and is stored once.
CREATE TABLE smsout(
    msgid   INT AUTO_INCREMENT PRIMARY KEY,
    phone   VARCHAR(32) NOT NULL,
    msgbody TEXT NOT NULL,
    status  INT NOT NULL DEFAULT 0,
    -- Every poll counts and reads the waiting rows (status 0) in key order.
    KEY smsout_waiting (status, msgid)
) CHARACTER SET utf8mb4;
CREATE TABLE smsin(
    id          INT AUTO_INCREMENT PRIMARY KEY,
    phone       VARCHAR(32),
    msgbody     TEXT,
    rectime     DATETIME,
    msgbody_md5 CHAR(32) AS (MD5(msgbody)) STORED,
    UNIQUE KEY smsin_once (phone, rectime, msgbody_md5)
) CHARACTER SET utf8mb4;

-- The reference database of the sample update: the structure the suite's database takes.
-- clientes gains a longer name, an e-mail and an index on the name; produtos is new.
DROP DATABASE IF EXISTS krv_demo_ref;
CREATE DATABASE krv_demo_ref CHARACTER SET utf8mb4;
USE krv_demo_ref;
CREATE TABLE licensa (ult_atualizacao varchar(10), atmenu varchar(10));
CREATE TABLE menu (Sistema varchar(50), sequencia varchar(3), Menu varchar(30),
                   NomeInter varchar(20), Nivel int, NivelAnterior varchar(50), Programa int);
CREATE TABLE clientes (id int(11) NOT NULL AUTO_INCREMENT, nome varchar(60),
                       email varchar(120), PRIMARY KEY (id), KEY idx_nome (nome));
CREATE TABLE produtos (codigo varchar(20) NOT NULL, descricao varchar(100),
                       preco decimal(10,2) NOT NULL DEFAULT '0.00', PRIMARY KEY (codigo));
